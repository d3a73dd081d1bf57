#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceTestSupport.h"
#include "TempDir.h"
#include "TestChild.h"
#include "reportEvent.h"

// Reports one failure as source argv[1].
OSTARA_TEST_CHILD_ROLE(report_failure)
{
    reportFailure("serviceMain", argv[1], "Insufficient service arguments");
    return 0;
}

TEST(ReportEventTest, AFailureBecomesOneErrorMessageInSyslogUnderTheSourceName)
{
    TempDir dir;
    std::string log = dir.file("syslog");
    ProgramRun run(underPrivateDevLog(log, {TestChild::selfPath(), "agent7"}),
                   {PRIVATE_DEVLOG_ROLE, "OSTARA_TEST_GRANDCHILD=report_failure"});
    int status = run.wait(30000);
    if (status == SYSLOG_ROLE_UNAVAILABLE) {
        GTEST_SKIP() << "no mount namespace for a private /dev/log (needs root)";
    }
    ASSERT_EQ(0, status) << run.output();
    std::vector<std::string> lines = readLines(log);
    ASSERT_EQ(1u, lines.size()) << readFile(log);
    // Facility daemon (3) and priority error (3): <27>.
    EXPECT_EQ(0u, lines[0].find("<27>")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(" agent7[")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("]: agent7: serviceMain failed with error Insufficient service arguments"))
        << lines[0];
}
