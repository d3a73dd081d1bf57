#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "KorrUtils.h"
#include "NLS.h"
#include "ServiceTestSupport.h"
#include "TempDir.h"
#include "TestChild.h"
#include "serviceInstaller.h"

namespace {

const char* const PC_MESSAGES = "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages";

struct Installation
{
    int result;
    std::string out;
    std::string err;
};

// Runs the installer in this process against unitDir, capturing what it prints.
Installation installInto(const std::string& unitDir, std::vector<std::string> args)
{
    setenv("VELBRIX_SYSTEMD_UNIT_DIR", unitDir.c_str(), 1);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    Installation i;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    i.result = install(static_cast<int>(args.size()), argv.data());
    i.err = testing::internal::GetCapturedStderr();
    i.out = testing::internal::GetCapturedStdout();
    unsetenv("VELBRIX_SYSTEMD_UNIT_DIR");
    return i;
}

std::string lineStarting(const std::string& file, const std::string& prefix)
{
    for (const std::string& line : readLines(file)) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return line;
        }
    }
    return "(no " + prefix + " line)";
}

std::string self() { return TestChild::selfPath(); }

} // namespace

TEST(ServiceInstallerTest, WritesAnEnabledNotifyUnitWithTheRegisteredCommandLine)
{
    TempDir units;
    Installation i = installInto(units.path(), {"-serviceName=agent1", "-displayName=Agent one",
                                                "-description=Moves files", "-user=nobody",
                                                "-directory=/var/lib/velbrix agent", "-logLevel=Fine",
                                                "-pcOptions=-appId=A1", "-F", "/bin/sleep", "100"});
    ASSERT_EQ(0, i.result) << i.err;
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0019_SERVICE_INSTALLED", "agent1") + "\n", i.out);
    EXPECT_EQ("", i.err);
    std::string unit = units.file("agent1.service");
    EXPECT_EQ("ExecStart=" + self() + " agent1 \"/var/lib/velbrix agent\" Fine -appId=A1 -F /bin/sleep 100",
              lineStarting(unit, "ExecStart="));
    EXPECT_EQ("Type=notify", lineStarting(unit, "Type="));
    EXPECT_EQ("Description=Agent one - Moves files", lineStarting(unit, "Description="));
    EXPECT_EQ("User=nobody", lineStarting(unit, "User="));
    EXPECT_EQ("WantedBy=multi-user.target", lineStarting(unit, "WantedBy="));
    EXPECT_EQ("KillMode=mixed", lineStarting(unit, "KillMode="));
    struct stat st;
    ASSERT_EQ(0, stat(unit.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777);

    char target[PATH_MAX] = {};
    ssize_t n = readlink(units.file("multi-user.target.wants/agent1.service").c_str(), target, sizeof target - 1);
    ASSERT_GT(n, 0) << "no enablement link";
    EXPECT_EQ(unit, std::string(target));
}

TEST(ServiceInstallerTest, DefaultsToTheCurrentDirectoryAndInfoWithoutUserOrControllerOptions)
{
    TempDir units;
    Installation i = installInto(units.path(), {"-serviceName=plain"});
    ASSERT_EQ(0, i.result) << i.err;
    std::string unit = units.file("plain.service");
    EXPECT_EQ("ExecStart=" + self() + " plain " + KorrUtils::getCwd() + " Info", lineStarting(unit, "ExecStart="));
    EXPECT_EQ("Description=plain", lineStarting(unit, "Description="));
    EXPECT_EQ("(no User= line)", lineStarting(unit, "User="));
}

TEST(ServiceInstallerTest, GathersControllerOptionsOnlyAfterANonEmptyPcOptionsAndLetsTheLastOptionWin)
{
    TempDir units;
    Installation i = installInto(units.path(), {"-ignored", "-serviceName=first", "-logLevel=", "-pcOptions=-a",
                                                "-b", "-serviceName=second", "c d"});
    ASSERT_EQ(0, i.result) << i.err;
    EXPECT_EQ("ExecStart=" + self() + " second " + KorrUtils::getCwd() + " Info -a -b c d",
              lineStarting(units.file("second.service"), "ExecStart="));
    EXPECT_FALSE(access(units.file("first.service").c_str(), F_OK) == 0);

    Installation empty = installInto(units.path(), {"-serviceName=third", "-pcOptions=", "-x"});
    ASSERT_EQ(0, empty.result);
    EXPECT_EQ("ExecStart=" + self() + " third " + KorrUtils::getCwd() + " Info",
              lineStarting(units.file("third.service"), "ExecStart="));
}

TEST(ServiceInstallerTest, EscapesWhatSystemdWouldExpandInTheCommandLineAndDescription)
{
    TempDir units;
    Installation i = installInto(units.path(), {"-serviceName=esc", "-description=100% busy",
                                                "-pcOptions=-Dx=50%$HOME", "C:\\dir"});
    ASSERT_EQ(0, i.result) << i.err;
    std::string unit = units.file("esc.service");
    EXPECT_EQ("ExecStart=" + self() + " esc " + KorrUtils::getCwd() + " Info -Dx=50%%$$HOME C:\\\\dir",
              lineStarting(unit, "ExecStart="));
    EXPECT_EQ("Description=esc - 100%% busy", lineStarting(unit, "Description="));
}

TEST(ServiceInstallerTest, NamesAreLimitedTo256Characters)
{
    TempDir units;
    Installation none = installInto(units.path(), {"-displayName=x"});
    EXPECT_EQ(-1, none.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0012_NO_SERVICE_NAME") + "\n", none.err);
    EXPECT_EQ(-1, installInto(units.path(), {"-serviceName="}).result);

    Installation tooLong = installInto(units.path(), {"-serviceName=" + std::string(257, 's')});
    EXPECT_EQ(-2, tooLong.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0013_SERVICE_NAME_TOO_LONG") + "\n", tooLong.err);
    // 256 passes the length check; systemd itself takes at most 247 before ".service".
    Installation longest = installInto(units.path(), {"-serviceName=" + std::string(256, 's')});
    EXPECT_EQ(-6, longest.result);
    EXPECT_NE(std::string::npos, longest.err.find("ZRKPC0017")) << longest.err;
    EXPECT_EQ(0, installInto(units.path(), {"-serviceName=" + std::string(247, 's')}).result);

    Installation display = installInto(units.path(), {"-serviceName=d", "-displayName=" + std::string(257, 'd')});
    EXPECT_EQ(-3, display.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0014_DISPLAY_NAME_TOO_LONG") + "\n", display.err);
    EXPECT_EQ(0, installInto(units.path(), {"-serviceName=d", "-displayName=" + std::string(256, 'd')}).result);
}

TEST(ServiceInstallerTest, AnExistingUnitIsNeverReplaced)
{
    TempDir units;
    ASSERT_EQ(0, installInto(units.path(), {"-serviceName=twice", "-logLevel=Fine"}).result);
    std::string before = readFile(units.file("twice.service"));
    Installation again = installInto(units.path(), {"-serviceName=twice", "-logLevel=Finest"});
    EXPECT_EQ(-6, again.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0017_CREATE_SERVICE_FAILED", "twice", KorrUtils::getLastErrorMessage(EEXIST)) +
                  "\n",
              again.err);
    EXPECT_EQ(before, readFile(units.file("twice.service")));
}

TEST(ServiceInstallerTest, AUnitDirectoryThatCannotBeWrittenGivesMinus5)
{
    TempDir units;
    Installation missing = installInto(units.file("missing"), {"-serviceName=m"});
    EXPECT_EQ(-5, missing.result);
    EXPECT_EQ("Last error is: " + std::to_string(ENOENT) + "\n" +
                  NLS::format(PC_MESSAGES, "ZRKPC0016_OPEN_SCM_FAILED",
                              units.file("missing") + ": " + KorrUtils::getLastErrorMessage(ENOENT)) + "\n",
              missing.err);
    units.write("file", "");
    EXPECT_EQ(-5, installInto(units.file("file"), {"-serviceName=m"}).result);
    if (geteuid() != 0) {
        chmod(units.path().c_str(), 0555);
        EXPECT_EQ(-5, installInto(units.path(), {"-serviceName=m"}).result);
        chmod(units.path().c_str(), 0755);
    }
}

TEST(ServiceInstallerTest, RefusesNamesAndValuesThatWouldEscapeTheUnit)
{
    TempDir units;
    mkdir(units.file("sub").c_str(), 0755);
    Installation slash = installInto(units.file("sub"), {"-serviceName=../evil"});
    EXPECT_EQ(-6, slash.result);
    EXPECT_NE(std::string::npos, slash.err.find("../evil")) << slash.err;
    EXPECT_NE(0, access(units.file("evil.service").c_str(), F_OK));

    Installation injected =
        installInto(units.path(), {"-serviceName=inj", "-description=x\nExecStartPre=/bin/false"});
    EXPECT_EQ(-6, injected.result);
    EXPECT_NE(0, access(units.file("inj.service").c_str(), F_OK));
}

TEST(ServiceInstallerTest, APasswordIsIgnoredWithAWarning)
{
    TempDir units;
    Installation i = installInto(units.path(), {"-serviceName=pw", "-user=nobody", "-password=s3cret"});
    EXPECT_EQ(0, i.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0062_PASSWORD_IGNORED") + "\n", i.err);
    EXPECT_EQ(std::string::npos, readFile(units.file("pw.service")).find("s3cret"));
}

TEST(ServiceInstallerTest, QuotesOnlyTextWithBlanksThatIsNotQuotedAlready)
{
    EXPECT_EQ("", quoteIfNeeded(""));
    EXPECT_EQ("Info", quoteIfNeeded("Info"));
    EXPECT_EQ("\"C:\\Program Files\\x\"", quoteIfNeeded("C:\\Program Files\\x"));
    EXPECT_EQ("\"already quoted\"", quoteIfNeeded("\"already quoted\""));
    // The next quote is not the last character: the whole is wrapped again, nothing escaped.
    EXPECT_EQ("\"\"a\" b\"", quoteIfNeeded("\"a\" b"));
    EXPECT_EQ("\"\"open b\"", quoteIfNeeded("\"open b"));
}

// The installed program writes a unit that systemd's own checker accepts.
TEST(ServiceInstallerTest, TheInstalledUnitPassesSystemdAnalyzeVerify)
{
    if (system("command -v systemd-analyze >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    TempDir units;
    ProgramRun installer({serviceProgram(), "-install", "-serviceName=verified", "-description=Verified agent",
                          "-directory=" + units.path(), "-pcOptions=-appId=V1", "-F", "/bin/sleep", "1000"},
                         {"VELBRIX_SYSTEMD_UNIT_DIR=" + units.path()});
    ASSERT_EQ(0, installer.wait(30000)) << installer.output();
    ProgramRun verify({"/usr/bin/env", "systemd-analyze", "verify", units.file("verified.service")},
                      {"SYSTEMD_LOG_COLOR=0"});
    int status = verify.wait(60000);
    EXPECT_EQ(0, status) << verify.output();
    EXPECT_EQ(std::string::npos, verify.output().find("verified.service:")) << verify.output();
}
