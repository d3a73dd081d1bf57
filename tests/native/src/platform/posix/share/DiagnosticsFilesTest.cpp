// The files the diagnostics leave behind, as an operator finds them: modes, first-failure
// reports, and a log directory that cannot be used. A process that needs a log directory of
// its own (the first one published stays) runs as a child of the test binary.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "BuildLevel.h"
#include "EventLog.h"
#include "FFDC.h"
#include "KorrEnvironment.h"
#include "KorrException.h"
#include "KorrRunnable.h"
#include "KorrThreadImpl.h"
#include "LogFileProperties.h"
#include "RAS.h"
#include "RasDescriptor.h"
#include "SecureFileHandler.h"
#include "SpawnedChild.h"
#include "TempDir.h"
#include "TestChild.h"

namespace {

const char* const MESSAGES = "com.quillon.velbrix.nativ.common.ZRKNVMessages";

int modeOf(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// A daemon's diagnostics with the event log in dir; with logDir set, reports go there too.
void initializeDiagnostics(const std::string& dir, bool logDir)
{
    if (logDir) {
        KorrEnvironment::setProperty("com.quillon.velbrix.native.logdir", dir);
    }
    RAS::initialize(RASEnvironment::DAEMON, LogFileProperties(dir + "/ev%g.log", 1 << 20, 2, true, false),
                    LogFileProperties(dir + "/tr%g.txt", 1 << 20, 2, true, false), "com.quillon.velbrix.native");
}

// The child's standard output, with its standard error when the role joins them; status 0 expected.
std::string runChild(const std::string& role, const std::string& arg, pid_t* pid = nullptr)
{
    SpawnedChild child(role, {arg});
    if (pid) {
        *pid = child.pid();
    }
    int status = child.wait(20000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << child.output();
    return child.output();
}

class Throwing : public KorrRunnable
{
public:
    long run() override { throw KorrException("runnable failed"); }
};

} // namespace

OSTARA_TEST_CHILD_ROLE(ffdcReports)
{
    initializeDiagnostics(argv[1], true);
    std::time_t start = std::time(nullptr);   // both captures at the start of a fresh second
    for (int i = 0; i < 300 && std::time(nullptr) == start; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    KorrException boom("boom");
    int object = 0;
    FFDC::capture(RasDescriptor("FfdcT", MESSAGES), &object, "work", FFDC::PROBE_003(), &boom, 3, "v0", nullptr, "");
    FFDC::capture("Plain", "other", FFDC::PROBE_049(), nullptr);
    Throwing runnable;   // a thread ended by an exception leaves a report too
    KorrThreadImpl thread(&runnable);
    thread.start();
    thread.join();
    RAS::shutdown();
    return 0;
}

OSTARA_TEST_CHILD_ROLE(ffdcWithoutLogPath)
{
    initializeDiagnostics(argv[1], false);
    FFDC::capture("Plain", "other", FFDC::PROBE_007(), nullptr);
    RAS::shutdown();
    return 0;
}

// argv[1]: a regular file, under which no directory can be made.
OSTARA_TEST_CHILD_ROLE(unusableLogDirectory)
{
    ::dup2(1, 2);
    initializeDiagnostics(std::string(argv[1]) + "/logs", true);
    RasDescriptor rd("UnusableT", MESSAGES);
    EventLog::errorNoFormat(rd, "first event");
    FFDC::capture(rd, "work", FFDC::PROBE_004(), nullptr);
    EventLog::infoNoFormat(rd, "last event");
    RAS::shutdown();
    std::printf("still running\n");
    return 0;
}

// The event log stops growing after its banner, as on a full disk.
OSTARA_TEST_CHILD_ROLE(fullEventLog)
{
    ::dup2(1, 2);
    initializeDiagnostics(argv[1], false);
    std::signal(SIGXFSZ, SIG_IGN);
    struct stat st;
    ::stat((std::string(argv[1]) + "/ev0.log").c_str(), &st);
    struct rlimit limit = {static_cast<rlim_t>(st.st_size), static_cast<rlim_t>(st.st_size)};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    RasDescriptor rd("FullT", MESSAGES);
    EventLog::errorNoFormat(rd, "lost? no: e1");
    EventLog::warningNoFormat(rd, "lost? no: e2");
    RAS::shutdown();
    std::printf("still running\n");
    return 0;
}

TEST(DiagnosticsFilesTest, LogFilesAndTheirDirectoriesArePrivateFromTheStartAndNeverWritableByOthers)
{
    TempDir dir;
    std::string existing = dir.write("ex0.log", "old\n");
    std::string readable = dir.write("rd0.log", "");
    ::chmod(existing.c_str(), 0666);
    ::chmod(readable.c_str(), 0666);
    mode_t saved = ::umask(077);   // a narrow umask must not take away the readability asked for
    {
        SecureFileHandler priv(dir.file("priv/sub/ev%g.log"), 0, 2, true, false, 0);
        priv.publish("a");
        priv.publish("b");
        SecureFileHandler pub(dir.file("pub/ev%g.log"), 0, 2, true, true, 0);
        pub.publish("a");
        pub.publish("b");
        SecureFileHandler(dir.file("ex%g.log"), 1000, 2, true, false, 0).publish("new");
        SecureFileHandler(dir.file("rd%g.log"), 1000, 2, true, true, 0);
    }
    ::umask(saved);
    EXPECT_EQ(0700, modeOf(dir.file("priv")));
    EXPECT_EQ(0700, modeOf(dir.file("priv/sub")));
    EXPECT_EQ(0600, modeOf(dir.file("priv/sub/ev0.log")));
    EXPECT_EQ(0600, modeOf(dir.file("priv/sub/ev1.log")));
    EXPECT_EQ(0705, modeOf(dir.file("pub")));
    EXPECT_EQ(0604, modeOf(dir.file("pub/ev0.log")));
    EXPECT_EQ(0604, modeOf(dir.file("pub/ev1.log")));
    EXPECT_EQ(0600, modeOf(existing));
    EXPECT_EQ(0604, modeOf(readable));
    EXPECT_EQ("old\nnew\n", dir.read("ex0.log"));
}

TEST(DiagnosticsFilesTest, ReportFileHoldsEveryLineAndCapturesInOneSecondDifferOnlyInTheirSequence)
{
    TempDir dir;
    pid_t pid = 0;
    runChild("ffdcReports", dir.path(), &pid);
    EXPECT_EQ(0700, modeOf(dir.file("ffdc")));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("ffdc"))) {
        names.push_back("ffdc/" + entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());   // one digit of sequence: time, then sequence
    ASSERT_EQ(3u, names.size());
    std::regex nameForm("ffdc/FFDC\\.([0-9]{14})\\.([0-9])\\." + std::to_string(pid) + "\\.log");
    std::smatch first, second;
    ASSERT_TRUE(std::regex_match(names[0], first, nameForm)) << names[0];
    ASSERT_TRUE(std::regex_match(names[1], second, nameForm)) << names[1];
    EXPECT_EQ(first[1].str(), second[1].str());
    EXPECT_EQ("0", first[2].str());
    EXPECT_EQ("1", second[2].str());

    EXPECT_EQ(0600, modeOf(dir.file(names[0])));
    std::string report = dir.read(names[0]);
    std::regex form("Filename:   " + dir.file(names[0]) + "\n"
                    "Level:      " + BuildLevel::getText() + "\n"
                    "Time:       [0-3][0-9]/[01][0-9]/20[0-9]{2} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] GMT\n"
                    "Process ID: " + std::to_string(pid) + "\n"
                    "Thread ID:  0x[0-9a-f]{16}\n"
                    "Class:      FfdcT\n"
                    "Instance:   0x[0-9a-f]{16}\n"
                    "Method:     work\n"
                    "Probe:      FFDC_003\n"
                    "Cause:      class KorrException: boom\n"
                    "Arg\\[0\\]:     v0\n"
                    "Arg\\[1\\]:     null\n"
                    "Arg\\[2\\]:     \n"
                    "\\[EOF\\]\n");
    EXPECT_TRUE(std::regex_match(report, form)) << report;
    // Without object, cause or values: no Instance line, a "null" cause, no Arg lines.
    std::string plain = dir.read(names[1]);
    EXPECT_EQ(std::string::npos, plain.find("Instance:"));
    EXPECT_NE(std::string::npos, plain.find("\nClass:      Plain\nMethod:     other\nProbe:      FFDC_049\n"
                                            "Cause:      null\n[EOF]\n"))
        << plain;
    std::string thread = dir.read(names[2]);
    EXPECT_NE(std::string::npos, thread.find("Class:      KorrThreadImpl\n")) << thread;
    EXPECT_NE(std::string::npos, thread.find("Cause:      class KorrException: runnable failed\n")) << thread;

    std::string events = dir.read("ev0.log");
    for (const std::string& name : names) {
        EXPECT_NE(std::string::npos, events.find("FFDC          E ZRKNV0084E: First-failure data was captured in "
                                                 "the file " + dir.file(name)))
            << events;
    }
    EXPECT_NE(std::string::npos, events.find("ZRKNV0149")) << events;
}

TEST(DiagnosticsFilesTest, WithoutALogPathTheEventCarriesTheWholeReport)
{
    TempDir dir;
    runChild("ffdcWithoutLogPath", dir.path());
    EXPECT_FALSE(std::filesystem::exists(dir.file("ffdc")));
    std::string events = dir.read("ev0.log");
    std::string::size_type at = events.find("FFDC          E ZRKNV0150E");
    ASSERT_NE(std::string::npos, at) << events;
    EXPECT_NE(std::string::npos, events.find("Level:      " + BuildLevel::getText() + "\nTime:       ", at)) << events;
    EXPECT_NE(std::string::npos, events.find("\nProbe:      FFDC_007\nCause:      null\n[EOF]\n", at)) << events;
}

TEST(DiagnosticsFilesTest, UnusableLogDirectoryLeavesTheProcessRunningAndEveryEventOnStandardError)
{
    TempDir dir;
    std::string blocker = dir.write("plain", "");
    std::string out = runChild("unusableLogDirectory", blocker);
    EXPECT_EQ(0u, out.find("ZRKNV0126E")) << out;
    // Each event behind the prefix, in order; the report travels whole in its event.
    std::regex expected("ZRKNV0126E[^\n]*" + blocker + "/logs[^\n]*\n"
                        "EVENT: \\[[^\n]*\\]  [0-9a-f]{16} UnusableT     E first event\n"
                        "EVENT: \\[[^\n]*\\]  [0-9a-f]{16} FFDC          E ZRKNV0051E: [^\n]*" + blocker + "/logs/ffdc[^\n]*\n"
                        "EVENT: \\[[^\n]*\\]  [0-9a-f]{16} FFDC          E ZRKNV0150E: [^\n]*\n"
                        "(.*\n)*Probe:      FFDC_004\n(.*\n)*\\[EOF\\]\n\n?"
                        "EVENT: \\[[^\n]*\\]  [0-9a-f]{16} UnusableT     I last event\n"
                        "still running\n");
    EXPECT_TRUE(std::regex_match(out, expected)) << out;
}

TEST(DiagnosticsFilesTest, EventLogThatCannotGrowSendsEventsToStandardErrorAndReportsOnce)
{
    TempDir dir;
    std::string out = runChild("fullEventLog", dir.path());
    std::regex expected("ZRKNV0052E[^\n]*" + dir.file("ev0.log") + "[^\n]*\n"
                        "EVENT: \\[[^\n]*\\]  [0-9a-f]{16} FullT         E lost\\? no: e1\n"
                        "EVENT: \\[[^\n]*\\]  [0-9a-f]{16} FullT         W lost\\? no: e2\n"
                        "still running\n");
    EXPECT_TRUE(std::regex_match(out, expected)) << out;
    EXPECT_EQ(std::string::npos, dir.read("ev0.log").find("lost?"));
}

// A log directory another user can write may have its "logs" swapped for a link into a
// victim's directory while a log is open there: the next rotation moves none of the victim's files.
TEST(DiagnosticsFilesTest, RotationNeverMovesFilesThroughALinkedLogsDirectory)
{
    TempDir dir, victim;
    victim.write("ev0.log", "victim's 0\n");
    victim.write("ev1.log", "victim's 1\n");
    std::string shared = dir.file("shared");
    ASSERT_EQ(0, mkdir(shared.c_str(), 0777));
    ASSERT_EQ(0, chmod(shared.c_str(), 0777));
    std::string logs = shared + "/logs";
    ASSERT_EQ(0, mkdir(logs.c_str(), 0755));
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(shared.c_str(), 65534, 65534));
    }
    {
        SecureFileHandler h(logs + "/ev%g.log", 10, 3, false, false, 0);
        h.publish("0123456789");
        ASSERT_EQ(0, rename(logs.c_str(), (shared + "/moved").c_str()));
        ASSERT_EQ(0, symlink(victim.path().c_str(), logs.c_str()));
        try {
            h.publish("next");
        } catch (const KorrException&) {
            // Refused or not: what matters is that nothing of the victim's moved.
        }
    }
    EXPECT_EQ("victim's 0\n", victim.read("ev0.log"));
    EXPECT_EQ("victim's 1\n", victim.read("ev1.log"));
    EXPECT_FALSE(std::filesystem::exists(victim.file("ev2.log")));
}
