#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
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

// Runs the installer (or with uninstalling, the uninstaller) in this process against unitDir,
// capturing what it prints. An install without "-pcOptions=" gets a program.
Installation installInto(const std::string& unitDir, std::vector<std::string> args, bool uninstalling = false)
{
    bool program = false;
    for (const auto& a : args) {
        program = program || a.compare(0, 11, "-pcOptions=") == 0;
    }
    if (!program && !uninstalling) {
        args.push_back("-pcOptions=/bin/true");
    }
    setenv("VELBRIX_SYSTEMD_UNIT_DIR", unitDir.c_str(), 1);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(&a[0]);
    }
    Installation i;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    i.result = (uninstalling ? uninstall : install)(static_cast<int>(args.size()), argv.data());
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

// The installer puts the product root in front of the controller's options.
std::string execStart(const std::string& rest, const std::string& controller)
{
    return "ExecStart=" + TestChild::selfPath() + " " + rest + " -Dcom.quillon.velbrix.product.root=" +
           std::string(getenv("ZRK_PROD")) + " " + controller;
}

} // namespace

TEST(ServiceInstallerTest, WritesAnEnabledNotifyUnitWithTheRegisteredCommandLine)
{
    TempDir units;
    Installation i = installInto(units.path(), {"-serviceName=agent1", "-displayName=Agent one",
                                                "-description=100% busy", "-user=nobody", "-password=s3cret",
                                                "-directory=/var/lib/velbrix agent", "-logLevel=Fine",
                                                "-pcOptions=-appId=A1", "-Dx=$HOME", "/bin/sleep", "100",
                                                "-user=alice", "-logLevel=debug", "a \"b\" \\c", ";"});
    ASSERT_EQ(0, i.result) << i.err;
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0019_SERVICE_INSTALLED", "agent1") + "\n", i.out);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0062_PASSWORD_IGNORED") + "\n", i.err);
    // What systemd would expand ("%", "$") is doubled, what it would split is quoted; everything
    // after -pcOptions= is the controller's, also what looks like an installer option.
    EXPECT_EQ(execStart("agent1 \"/var/lib/velbrix agent\" Fine",
                        "-appId=A1 -Dx=$$HOME /bin/sleep 100 -user=alice -logLevel=debug \"a \\\"b\\\" \\\\c\" \";\""),
              lineOf(units, "agent1.service", "ExecStart"));
    EXPECT_EQ("Restart=on-abnormal", lineOf(units, "agent1.service", "Restart"));
    EXPECT_EQ("Description=Agent one - 100%% busy", lineOf(units, "agent1.service", "Description"));
    EXPECT_EQ("User=nobody", lineOf(units, "agent1.service", "User"));
    EXPECT_EQ("Type=notify", lineOf(units, "agent1.service", "Type"));
    EXPECT_EQ("WantedBy=multi-user.target", lineOf(units, "agent1.service", "WantedBy"));
    EXPECT_EQ(std::string::npos, units.read("agent1.service").find("s3cret"));
    char target[PATH_MAX] = {};
    ASSERT_GT(readlink(units.file("multi-user.target.wants/agent1.service").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(units.file("agent1.service"), target);
}

TEST(ServiceInstallerTest, DefaultsAndRefusalOfUnknownOptionsAndOfAMissingProgram)
{
    TempDir units;
    std::string cwd = KorrUtils::getCwd();
    ASSERT_EQ(0, installInto(units.path(), {"-serviceName=first", "-serviceName=plain"}).result);
    EXPECT_EQ(execStart("plain " + cwd + " Info", "/bin/true"), lineOf(units, "plain.service", "ExecStart"));
    EXPECT_EQ("Description=plain", lineOf(units, "plain.service", "Description"));
    EXPECT_EQ("(no User)", lineOf(units, "plain.service", "User"));
    // A product root among the controller's options is the one used, and not given twice.
    ASSERT_EQ(0, installInto(units.path(), {"-serviceName=opts", "-logLevel=", "-pcOptions=-a",
                                            "-Dcom.quillon.velbrix.product.root=/opt/p", "prog"}).result);
    EXPECT_EQ("ExecStart=" + TestChild::selfPath() + " opts " + cwd + " Info -a -Dcom.quillon.velbrix.product.root=/opt/p prog",
              lineOf(units, "opts.service", "ExecStart"));

    using Args = std::vector<std::string>;
    for (Args args : {Args{"-serviceName=none", "-pcOptions="}, Args{"-serviceName=none", "-pcOption=x", "-pcOptions=/bin/true"},
                      Args{"-serviceName=none", "-logLevel=debug"}}) {
        Installation refused = installInto(units.path(), args);
        EXPECT_EQ(INSTALL_USAGE, refused.result);
        const char* expected = args[1] == "-pcOptions="   ? "ZRKPC0065E"
                               : args[1] == "-pcOption=x" ? "ZRKPC0064E: The argument -pcOption=x"
                                                          : "ZRKPC0071E: The log level debug";
        EXPECT_EQ(0u, refused.err.find(expected)) << refused.err;
        EXPECT_NE(0, access(units.file("none.service").c_str(), F_OK));
    }
}

// Uninstall removes what install wrote, and refuses a name it did not write or that is not there.
TEST(ServiceInstallerTest, UninstallRemovesOnlyTheUnitAndLinkThatInstallWrote)
{
    TempDir units;
    ASSERT_EQ(0, installInto(units.path(), {"-serviceName=gone"}).result);
    units.write("multi-user.target.wants/other.service", "kept");
    Installation removed = installInto(units.path(), {"-serviceName=gone"}, true);
    EXPECT_EQ(0, removed.result) << removed.err;
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0066_SERVICE_UNINSTALLED", "gone") + "\n", removed.out);
    EXPECT_NE(0, access(units.file("gone.service").c_str(), F_OK));
    struct stat st;
    EXPECT_NE(0, lstat(units.file("multi-user.target.wants/gone.service").c_str(), &st));
    EXPECT_EQ("kept", units.read("multi-user.target.wants/other.service"));

    Installation again = installInto(units.path(), {"-serviceName=gone"}, true);
    EXPECT_EQ(UNINSTALL_NOT_INSTALLED, again.result);
    EXPECT_EQ(NLS::format(PC_MESSAGES, "ZRKPC0067_SERVICE_NOT_INSTALLED", "gone", units.file("gone.service")) + "\n",
              again.err);
    units.write("foreign.service", "[Unit]\nDescription=someone else's\n");
    EXPECT_EQ(UNINSTALL_NOT_OURS, installInto(units.path(), {"-serviceName=foreign"}, true).result);
    EXPECT_EQ("[Unit]\nDescription=someone else's\n", units.read("foreign.service"));
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

namespace {

// An ExecStart= value split into arguments as systemd splits it: blanks separate, double quotes
// group with C escapes inside, "%%" and "$$" stand for one character.
std::vector<std::string> splitAsSystemd(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if ((c == '%' || c == '$') && i + 1 < line.size() && line[i + 1] == c) {
            ++i;
        } else if (quoted && c == '\\' && i + 1 < line.size()) {
            c = line[++i];
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
            continue;
        } else if (c == ' ' && !quoted) {
            if (inWord) {
                words.push_back(word);
            }
            word.clear();
            inWord = false;
            continue;
        }
        word += c;
        inWord = true;
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

} // namespace

// The installer, run from anywhere without ZRK_PROD, writes a unit whose own ExecStart= starts a
// service that answers ostaractl and stops cleanly on SIGTERM.
TEST(ServiceInstallerTest, TheUnitsOwnCommandLineStartsAServiceThatAnswersAndStops)
{
    TempDir units, dir;
    std::string appId = "RoundTrip" + std::to_string(getpid());
    mkdir(dir.file("work dir").c_str(), 0755);
    std::string properties = dir.write("agent.properties", "agentQMgr=QM1\nagentQMgrHost=qm.example\n");
    ProgramRun installer({serviceProgram(), "-install", "-serviceName=" + appId, "-directory=" + dir.path(),
                          "-pcOptions=-appId=" + appId, "-directory=" + dir.file("work dir"),
                          "-properties=" + properties, std::string(OSTARA_TOOLS_DIR) + "/fakejdk/bin/java"},
                         {"VELBRIX_SYSTEMD_UNIT_DIR=" + units.path(), "ZRK_PROD="});
    ASSERT_EQ(0, installer.wait(30000)) << installer.output();
    EXPECT_EQ("ZRKPC0019I: The service " + appId + " has been installed.\n", installer.output());

    std::string line = lineOf(units, appId + ".service", "ExecStart");
    std::vector<std::string> words = splitAsSystemd(line.substr(line.find('=') + 1));
    ProgramRun service(words, {"ZRK_PROD="});
    int answered = -1;
    for (int i = 0; i < 600 && answered != 0; ++i) {
        ProgramRun status({std::string(OSTARA_BIN_DIR) + "/ostaractl", appId, "status"}, {});
        answered = status.wait(30000);
        if (answered != 0) {
            usleep(100000);
        }
    }
    EXPECT_EQ(0, answered);
    service.signal(SIGTERM);
    EXPECT_EQ(0, service.wait(60000)) << service.output();
    std::string events = dir.read("work dir/logs/pcevent0.log");
    EXPECT_NE(std::string::npos, events.find("ZRKPC0003I")) << events;
}
