#include <gtest/gtest.h>

#include <cerrno>
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
    std::string out, err;
};

// Runs the installer in this process against unitDir, capturing what it prints.
Installation installInto(const std::string& unitDir, std::vector<std::string> args)
{
    setenv("VELBRIX_SYSTEMD_UNIT_DIR", unitDir.c_str(), 1);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(&a[0]);
    }
    Installation i;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    i.result = install(static_cast<int>(args.size()), argv.data());
    i.err = testing::internal::GetCapturedStderr();
    i.out = testing::internal::GetCapturedStdout();
    unsetenv("VELBRIX_SYSTEMD_UNIT_DIR");
    return i;
}

std::string lineOf(const TempDir& units, const std::string& unit, const std::string& key)
{
    std::vector<std::string> lines = readLines(units.file(unit));
    int at = findLine(lines, key + "=");
    return at < 0 ? "(no " + key + ")" : lines[at];
}

std::string execStart(const std::string& rest)
{
    return "ExecStart=" + TestChild::selfPath() + " " + rest;
}

} // namespace

TEST(ServiceInstallerTest, WritesAnEnabledNotifyUnitWithTheRegisteredCommandLine)
{
    TempDir units;
    Installation i = installInto(units.path(), {"-ignored", "-serviceName=agent1", "-displayName=Agent one",
                                                "-description=100% busy", "-user=nobody", "-password=s3cret",
                                                "-directory=/var/lib/velbrix agent", "-logLevel=Fine",
                                                "-pcOptions=-appId=A1", "-Dx=$HOME", "/bin/sleep", "100"});
    ASSERT_EQ(0, i.result) << i.err;
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0019_SERVICE_INSTALLED", "agent1") + "\n", i.out);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0062_PASSWORD_IGNORED") + "\n", i.err);
    // What systemd would expand ("%", "$") is doubled; the password is nowhere.
    EXPECT_EQ(execStart("agent1 \"/var/lib/velbrix agent\" Fine -appId=A1 -Dx=$$HOME /bin/sleep 100"),
              lineOf(units, "agent1.service", "ExecStart"));
    EXPECT_EQ("Description=Agent one - 100%% busy", lineOf(units, "agent1.service", "Description"));
    EXPECT_EQ("User=nobody", lineOf(units, "agent1.service", "User"));
    EXPECT_EQ("Type=notify", lineOf(units, "agent1.service", "Type"));
    EXPECT_EQ("WantedBy=multi-user.target", lineOf(units, "agent1.service", "WantedBy"));
    EXPECT_EQ(std::string::npos, units.read("agent1.service").find("s3cret"));
    char target[PATH_MAX] = {};
    ASSERT_GT(readlink(units.file("multi-user.target.wants/agent1.service").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(units.file("agent1.service"), target);
}

TEST(ServiceInstallerTest, DefaultsAndControllerOptionsGatheredOnlyAfterANonEmptyPcOptions)
{
    TempDir units;
    std::string cwd = KorrUtils::getCwd();
    ASSERT_EQ(0, installInto(units.path(), {"-serviceName=first", "-serviceName=plain"}).result);
    EXPECT_EQ(execStart("plain " + cwd + " Info"), lineOf(units, "plain.service", "ExecStart"));
    EXPECT_EQ("Description=plain", lineOf(units, "plain.service", "Description"));
    EXPECT_EQ("(no User)", lineOf(units, "plain.service", "User"));
    ASSERT_EQ(0, installInto(units.path(), {"-serviceName=opts", "-logLevel=", "-pcOptions=-a", "-b", "c d"}).result);
    EXPECT_EQ(execStart("opts " + cwd + " Info -a -b c d"), lineOf(units, "opts.service", "ExecStart"));
    ASSERT_EQ(0, installInto(units.path(), {"-serviceName=none", "-pcOptions=", "-x"}).result);
    EXPECT_EQ(execStart("none " + cwd + " Info"), lineOf(units, "none.service", "ExecStart"));
}

TEST(ServiceInstallerTest, RefusesMissingOrOverlongNamesWithTheirResults)
{
    TempDir units;
    Installation none = installInto(units.path(), {"-serviceName="});
    EXPECT_EQ(-1, none.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0012_NO_SERVICE_NAME") + "\n", none.err);
    Installation tooLong = installInto(units.path(), {"-serviceName=" + std::string(257, 's')});
    EXPECT_EQ(-2, tooLong.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0013_SERVICE_NAME_TOO_LONG") + "\n", tooLong.err);
    Installation display = installInto(units.path(), {"-serviceName=d", "-displayName=" + std::string(257, 'd')});
    EXPECT_EQ(-3, display.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0014_DISPLAY_NAME_TOO_LONG") + "\n", display.err);
    EXPECT_EQ(0, installInto(units.path(), {"-serviceName=d", "-displayName=" + std::string(256, 'd')}).result);
    // 256 passes the length check, but systemd takes at most 247 characters before ".service".
    EXPECT_EQ(-6, installInto(units.path(), {"-serviceName=" + std::string(256, 's')}).result);
    EXPECT_EQ(0, installInto(units.path(), {"-serviceName=" + std::string(247, 's')}).result);
}

TEST(ServiceInstallerTest, NeverReplacesAUnitNorWritesOutsideTheUnitDirectory)
{
    TempDir units;
    ASSERT_EQ(0, installInto(units.path(), {"-serviceName=twice", "-logLevel=Fine"}).result);
    std::string before = units.read("twice.service");
    Installation again = installInto(units.path(), {"-serviceName=twice", "-logLevel=Finest"});
    EXPECT_EQ(-6, again.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0017_CREATE_SERVICE_FAILED", "twice", KorrUtils::getLastErrorMessage(EEXIST)) +
                  "\n",
              again.err);
    EXPECT_EQ(before, units.read("twice.service"));

    mkdir(units.file("sub").c_str(), 0755);
    EXPECT_EQ(-6, installInto(units.file("sub"), {"-serviceName=../evil"}).result);
    EXPECT_NE(0, access(units.file("evil.service").c_str(), F_OK));
    EXPECT_EQ(-6, installInto(units.path(), {"-serviceName=inj", "-description=x\nExecStartPre=/bin/false"}).result);
    EXPECT_NE(0, access(units.file("inj.service").c_str(), F_OK));

    Installation missing = installInto(units.file("missing"), {"-serviceName=m"});
    EXPECT_EQ(-5, missing.result);
    EXPECT_EQ("Last error is: " + std::to_string(ENOENT) + "\n" +
                  NLS::format(PC_MESSAGES, "ZRKPC0016_OPEN_SCM_FAILED",
                              units.file("missing") + ": " + KorrUtils::getLastErrorMessage(ENOENT)) + "\n",
              missing.err);
}

TEST(ServiceInstallerTest, QuotesOnlyTextWithBlanksThatIsNotQuotedAlready)
{
    EXPECT_EQ("", quoteIfNeeded(""));
    EXPECT_EQ("Info", quoteIfNeeded("Info"));
    EXPECT_EQ("\"C:\\Program Files\\x\"", quoteIfNeeded("C:\\Program Files\\x"));
    EXPECT_EQ("\"already quoted\"", quoteIfNeeded("\"already quoted\""));
    // The next quote is not the last character: the whole is wrapped again, nothing escaped.
    EXPECT_EQ("\"\"a\" b\"", quoteIfNeeded("\"a\" b"));
}

TEST(ServiceInstallerTest, TheInstalledProgramWritesAUnitThatSystemdAnalyzeAccepts)
{
    if (system("command -v systemd-analyze >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    TempDir units;
    ProgramRun installer({serviceProgram(), "-install", "-serviceName=verified", "-description=Verified agent",
                          "-directory=" + units.path(), "-pcOptions=-appId=V1", "-F", "/bin/sleep", "1000"},
                         {"VELBRIX_SYSTEMD_UNIT_DIR=" + units.path()});
    ASSERT_EQ(0, installer.wait(30000)) << installer.output();
    ProgramRun verify({"/usr/bin/env", "systemd-analyze", "verify", units.file("verified.service")}, {});
    EXPECT_EQ(0, verify.wait(60000)) << verify.output();
    // Warnings name the unit file; there must be none.
    EXPECT_EQ(std::string::npos, verify.output().find("verified.service:")) << verify.output();
}
