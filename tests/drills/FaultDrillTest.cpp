// Drills of the surroundings failing: a full log disk, a properties file that goes or cannot be
// read, no message catalogues, and a log directory that belongs to another user.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "DrillSupport.h"

using namespace drill;

namespace {

const char* const REMOTE_QM = "agentQMgr=QM1\nagentQMgrHost=qm.example\n";
const char* const ENDLESS_RESTARTS = "maxRestartCount=100000\nmaxRestartInterval=3600\n";
const std::string::size_type NONE = std::string::npos;

// Unmounts (lazily) what a drill mounted, whatever the outcome.
struct Mounted {
    std::string path;
    ~Mounted() { umount2(path.c_str(), MNT_DETACH); }
};

// Writes zeros to path until the file system has no room left; the bytes written.
long long fill(const std::string& path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    std::vector<char> zeros(65536, 0);
    long long total = 0;
    for (;;) {
        ssize_t n = write(fd, zeros.data(), zeros.size());
        if (n <= 0) {
            break;
        }
        total += n;
    }
    close(fd);
    return total;
}

bool exitedNormally(int status) { return status >= 0 && status < 128; }

} // namespace

// The log directory is a small tmpfs that the drill fills up while the agent restarts every
// 300 ms. Supervision goes on, the events that cannot be written reach standard error, and the
// event log takes up again once space returns.
TEST(FaultDrill, FullLogDiskKeepsTheAgentGoingAndLoggingResumes)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a small file system for the log directory needs root";
    }
    Site s;
    std::string logs = s.work() + "/logs";
    std::filesystem::create_directories(logs);
    if (mount("tmpfs", logs.c_str(), "tmpfs", 0, "size=512k,mode=0755") != 0) {
        GTEST_SKIP() << "mount not permitted here: " << std::strerror(errno);
    }
    Mounted mounted{logs};
    s.properties(std::string(REMOTE_QM) + ENDLESS_RESTARTS);
    std::unique_ptr<Program> service(s.startService({"--exit=1", "--after-ms=300"}));
    ASSERT_TRUE(eventually([&] { return s.events("ZRKPC0027") >= 1; })) << readFile(s.root.file("service.out"));

    long long filled = fill(logs + "/filler");
    ASSERT_GT(filled, 0);
    int runsAtFull = s.agentRuns();
    // What is left of the last page of the event log still takes a few records; then the
    // handler gives up on the file and says so on standard error.
    EXPECT_TRUE(eventually([&] { return s.serviceStderr().find("ZRKNV0052") != NONE; }, 20000)) << s.serviceStderr();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    int runsWhileFull = s.agentRuns() - runsAtFull;
    std::string err = s.serviceStderr();
    int onStderr = occurrences(err, "EVENT: ");
    // Every start is reported once: in the file while it took records, on standard error after.
    // Starts are matched by process id: the agent numbers its run while the controller reports
    // it, so counts taken a moment apart may differ by one either way.
    std::string reports = s.eventLog() + err;
    int runs = s.agentRuns();
    for (int n = 1; n <= runs; ++n) {
        std::string text = "application A with process id " + std::to_string(s.agentPid(n)) + ".";
        int reported = occurrences(reports, text);
        EXPECT_TRUE(reported == 1 || (reported == 0 && n == runs)) << "start " << n << " reported " << reported
                                                                   << " times\n" << err;
    }
    EXPECT_TRUE(service->running()) << readFile(s.root.file("service.out"));
    EXPECT_GE(runsWhileFull, 4) << "supervision stalled on the full disk";
    EXPECT_GE(onStderr, 4) << err;

    std::filesystem::remove(logs + "/filler");
    int logged = s.events("ZRKPC0027");
    EXPECT_TRUE(eventually([&] { return s.events("ZRKPC0027") >= logged + 2; }, 15000))
        << "the event log did not resume once space returned";
    service->signal(SIGTERM);
    int status = service->wait(30000);
    EXPECT_TRUE(exitedNormally(status)) << status;
    std::cout << "[drill] full log disk: " << filled / 1024 << " kB filler, " << runsWhileFull
              << " agent restarts while full, " << onStderr << " events on standard error" << std::endl;
}

// The properties file goes between two starts of the agent: the controller says why in its
// event log and ends (70) without a crash or a leftover agent. A start without it, or with a
// directory in its place, says why on standard error and ends with 78. Back in place, it runs.
TEST(FaultDrill, PropertiesFileThatVanishesOrCannotBeRead)
{
    Site s;
    s.properties(std::string(REMOTE_QM) + ENDLESS_RESTARTS);
    {
        std::unique_ptr<Program> service(s.startService({"--exit=1", "--after-ms=500"}));
        ASSERT_TRUE(eventually([&] { return s.agentRuns() >= 1; })) << readFile(s.root.file("service.out"));
        std::filesystem::remove(s.propertiesPath());
        EXPECT_EQ(service->wait(30000), 70) << s.eventLog();
        EXPECT_NE(s.eventLog().find("ZRKNV0122"), NONE) << s.eventLog();
        EXPECT_FALSE(alive(s.agentPid(s.agentRuns())));
    }
    int runs = s.agentRuns();
    {
        std::unique_ptr<Program> service(s.startService({}));
        EXPECT_EQ(service->wait(30000), 78);
        std::string err = s.serviceStderr();
        EXPECT_NE(err.find("ZRKNV0122"), NONE) << err;
        EXPECT_NE(err.find(s.propertiesPath()), NONE) << err;
    }
    std::filesystem::create_directory(s.propertiesPath());
    {
        std::unique_ptr<Program> service(s.startService({}));
        EXPECT_EQ(service->wait(30000), 78);
        EXPECT_NE(s.serviceStderr().find("ZRKNV0122"), NONE) << s.serviceStderr();
    }
    std::filesystem::remove(s.propertiesPath());
    if (geteuid() != 0) {   // root reads any file
        s.properties(REMOTE_QM);
        chmod(s.propertiesPath().c_str(), 0);
        std::unique_ptr<Program> service(s.startService({}));
        EXPECT_EQ(service->wait(30000), 78);
        EXPECT_NE(s.serviceStderr().find("ZRKNV0122"), NONE) << s.serviceStderr();
        chmod(s.propertiesPath().c_str(), 0600);
    }
    EXPECT_EQ(s.agentRuns(), runs);   // no agent without its configuration

    s.properties(REMOTE_QM);
    std::unique_ptr<Program> service(s.startService({}));
    EXPECT_TRUE(eventually([&] { return s.agentRuns() == runs + 1; })) << s.eventLog();
    service->signal(SIGTERM);
    EXPECT_EQ(service->wait(30000), 0) << s.eventLog();
}

// A product root without its message catalogues: every text falls back to its key and
// inserts, and the service still supervises and answers.
TEST(FaultDrill, MissingCataloguesDoNotStopSupervision)
{
    Site s;
    TempDir emptyProduct;
    s.properties(REMOTE_QM);
    std::unique_ptr<Program> service(s.startService({}, emptyProduct.path()));
    ASSERT_TRUE(eventually([&] { return s.agentRuns() == 1; })) << readFile(s.root.file("service.out"));
    ASSERT_TRUE(eventually([&] { return s.events("ZRKPC0007") == 1; })) << s.eventLog();
    std::string events = s.eventLog();
    // Key followed by its inserts, the application identifier among them.
    EXPECT_NE(events.find("ZRKPC0007_STARTED_PROCESS"), NONE) << events;
    const char* warning = "could not be found for ResourceBundle";
    EXPECT_TRUE(events.find(warning) != NONE || s.serviceStderr().find(warning) != NONE) << events << s.serviceStderr();
    ToolResult status = s.ostaractl({"status"});
    EXPECT_EQ(status.status, 0) << status.output;
    EXPECT_NE(status.output.find("processControllerStatus=STARTED"), NONE) << status.output;
    service->signal(SIGTERM);
    EXPECT_EQ(service->wait(30000), 0) << s.eventLog();
}

// The log directory belongs to another user, who has put symbolic links to a file of someone
// else where the event log and its lock go. The service, running as root, writes through none
// of them: it reports on standard error that the event log cannot be used, and supervises on.
TEST(FaultDrill, LogDirectoryOwnedByAnotherUser)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "handing a directory to another user needs root";
    }
    Site s;
    TempDir elsewhere;
    std::string victim = elsewhere.write("victim", "untouched\n");
    std::string logs = s.work() + "/logs";
    std::filesystem::create_directories(logs);
    for (const char* name : {"pcevent0.log", "pcevent0.log.lck"}) {
        std::string link = logs + "/" + name;
        ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
        ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(chown(logs.c_str(), 65534, 65534), 0);
    s.properties(REMOTE_QM);
    std::unique_ptr<Program> service(s.startService({}));
    ASSERT_TRUE(eventually([&] { return s.agentRuns() == 1; })) << readFile(s.root.file("service.out"));
    ToolResult status = s.ostaractl({"status"});
    EXPECT_EQ(status.status, 0) << status.output;
    EXPECT_NE(status.output.find("processControllerStatus=STARTED"), NONE) << status.output;
    service->signal(SIGTERM);
    EXPECT_EQ(service->wait(30000), 0);
    EXPECT_EQ(readFile(victim), "untouched\n");
    std::string err = s.serviceStderr();
    // Where the events went instead: a file of the controller's own beside the links, or
    // standard error; either way the start was reported.
    std::string events;
    std::error_code ignored;
    for (auto it = std::filesystem::directory_iterator(logs, ignored); it != std::filesystem::directory_iterator(); ++it) {
        if (!std::filesystem::is_symlink(it->symlink_status()) && it->path().filename().string().find("pcevent") == 0) {
            events += readFile(it->path().string());
        }
    }
    EXPECT_TRUE(events.find("ZRKPC0007") != NONE || err.find("ZRKPC0007") != NONE) << events << err;
    std::cout << "[drill] log directory of another user: links refused, events "
              << (events.find("ZRKPC0007") != NONE ? "in a file of the controller's own" : "on standard error") << std::endl;
}
