// The staged service program driven as systemd would drive it: a notification socket, signals
// for the controls, syslog for events, and the sample agent as the supervised application.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char** environ;

#include "NLS.h"
#include "ServiceLog.h"
#include "ServiceTestSupport.h"
#include "TempDir.h"
#include "VexilDaemon.h"

namespace {

const int LIMIT_MS = 60000;

std::string agent() { return std::string(OSTARA_TOOLS_DIR) + "/fakejdk/bin/java"; }

std::string serviceLogIn(const std::string& dir)
{
    return dir + "/service" + std::to_string(ServiceLog::dateNumber(std::time(nullptr))) + ".log";
}

// A service whose agent works in work/ against a queue manager reached over the network, so
// that the controller starts it without waiting.
struct ServiceSetup
{
    explicit ServiceSetup(const std::string& base, const std::string& properties = "")
        : name(base + std::to_string(getpid()))
    {
        mkdir(dir.file("work").c_str(), 0755);
        dir.write("agent.properties", "agentQMgr=QM1\nagentQMgrHost=qm.example\n" + properties);
    }
    std::vector<std::string> argv(const std::vector<std::string>& program) const
    {
        std::vector<std::string> all = {serviceProgram(), name, dir.path(), "Info", "-directory=" + dir.file("work"),
                                        "-appId=" + name, "-properties=" + dir.file("agent.properties"),
                                        "-Dcom.quillon.velbrix.product.root=" OSTARA_PRODUCT_ROOT};
        all.insert(all.end(), program.begin(), program.end());
        return all;
    }
    std::vector<std::string> serviceLog() const { return readLines(serviceLogIn(dir.file("logs"))); }

    TempDir dir;
    std::string name;
};

} // namespace

TEST(OstarapcserviceTest, TooFewArgumentsFailWithExitStatus1)
{
    ProgramRun none({serviceProgram()}, {});
    EXPECT_EQ(1, none.wait(LIMIT_MS));
    EXPECT_EQ(0u, none.output().find("Insufficient arguments\n")) << none.output();

    TempDir dir;
    std::vector<std::string> syslog;
    int status = runWithSyslog({serviceProgram(), "lonely"}, dir.path(), syslog);
    if (status == SYSLOG_UNAVAILABLE) {
        GTEST_SKIP() << "syslog is observed in a mount namespace, which needs root";
    }
    EXPECT_EQ(1, status);
    ASSERT_EQ(1u, syslog.size());
    // Facility daemon, priority error (<27>), the service name as ident and as first string.
    EXPECT_EQ(0u, syslog[0].find("<27>"));
    EXPECT_NE(std::string::npos, syslog[0].find(" lonely[")) << syslog[0];
    EXPECT_NE(std::string::npos, syslog[0].find("]: serviceMain failed with error Insufficient service arguments"))
        << syslog[0];
}

// The whole life of a service: READY=1 once the controller thread runs, SIGHUP asks for the
// status again, SIGTERM stops the agent cleanly, and the service log tells it all in order.
TEST(OstarapcserviceTest, ReportsItsLifeToSystemdAndStopsCleanlyOnSigterm)
{
    ServiceSetup s("life");
    NotifySocket notify(s.dir.file("notify"));
    std::vector<std::string> argv = s.argv({agent()});
    ProgramRun service(argv, {"NOTIFY_SOCKET=" + notify.path()});
    EXPECT_EQ("STATUS=Starting", notify.receive(LIMIT_MS));
    std::string running;
    while (running.find("STATUS=agent running (pid ") == std::string::npos && !(running = notify.receive(LIMIT_MS)).empty()) {
    }
    EXPECT_EQ(0u, running.find("READY=1\nSTATUS=agent running (pid ")) << running;
    service.signal(SIGHUP);
    EXPECT_EQ(running, notify.receive(LIMIT_MS));
    for (int i = 0; i < 500 && s.dir.read("work/sample-agent.log").empty(); ++i) {
        usleep(20000);
    }
    service.signal(SIGTERM);
    // systemd waits for the controller's bounded stop and a margin, not ten minutes.
    EXPECT_EQ("STOPPING=1\nEXTEND_TIMEOUT_USEC=40000000\nSTATUS=Stopping", notify.receive(LIMIT_MS));
    EXPECT_EQ(0, service.wait(LIMIT_MS)) << service.output();
    while (!notify.receive(1000).empty()) {
    }
    EXPECT_EQ("STATUS=Stopped", notify.received.back());

    std::vector<std::string> expected = {"Service " + s.name + " starting", "logDirectory is: " + s.dir.file("logs"),
                                         "logLevel is: Info", "service arguments:"};
    for (size_t i = 0; i < argv.size(); ++i) {
        expected.push_back("arg[" + std::to_string(i) + "] : " + argv[i]);
    }
    for (std::string line : {"ProcessController starting", "Service stop requested", "Service stop complete",
                             "ProcessController shutdown requested", "ProcessController shutdown, exit status: 0",
                             "Service exiting"}) {
        expected.push_back(line.compare(0, 8, "Service ") == 0 ? line.insert(8, s.name + " ") : line);
    }
    std::vector<std::string> lines = s.serviceLog();
    ASSERT_EQ(expected.size(), lines.size()) << s.dir.read("logs/" + serviceLogIn("").substr(1));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(ServiceLog::timeStamp(std::time(nullptr)).size(), lines[i].find("] ") + 1) << lines[i];
        EXPECT_EQ(expected[i], lines[i].substr(lines[i].find("] ") + 2));
    }
    // The agent was asked to stop rather than killed, and wrote through the service's streams.
    EXPECT_NE(std::string::npos, s.dir.read("logs/stdout.log").find("sample-agent: run 1 exits with 0"));
    EXPECT_EQ(0, access(s.dir.file("logs/stderr.log").c_str(), F_OK));
}

// A JVM finds the runtime library first on its library path (and the product's programs on its
// search path); systemd's socket is not passed on.
TEST(OstarapcserviceTest, PutsTheJavaLibraryDirectoryFirstForTheApplication)
{
    ServiceSetup s("env");
    mkdir(s.dir.file("jdk").c_str(), 0755);
    mkdir(s.dir.file("jdk/bin").c_str(), 0755);
    std::string java = s.dir.write("jdk/bin/java", "#!/bin/sh\necho \"LD_LIBRARY_PATH=$LD_LIBRARY_PATH\"\n"
                                                   "echo \"PATH=$PATH\"\necho \"NOTIFY_SOCKET=${NOTIFY_SOCKET-unset}\"\n");
    chmod(java.c_str(), 0755);
    NotifySocket notify(s.dir.file("notify"));
    ProgramRun service(s.argv({java}), {"NOTIFY_SOCKET=" + notify.path(), "LD_LIBRARY_PATH=/opt/inherited"});
    EXPECT_EQ(0, service.wait(LIMIT_MS)) << service.output();
    std::string out = s.dir.read("logs/stdout.log");
    EXPECT_NE(std::string::npos, out.find("LD_LIBRARY_PATH=" OSTARA_PRODUCT_ROOT "/../java/lib64:/opt/inherited\n")) << out;
    EXPECT_NE(std::string::npos, out.find("PATH=" OSTARA_PRODUCT_ROOT "/../bin64:")) << out;
    EXPECT_NE(std::string::npos, out.find("NOTIFY_SOCKET=unset\n")) << out;
}

// An agent that ends for good because its queue manager is unavailable leaves the service with
// exit status 75 and one error in syslog; a clean end leaves 0 and no event.
TEST(OstarapcserviceTest, TheControllerExitStatusIsTheServiceExitStatusAndANonZeroOneAnEvent)
{
    ServiceSetup failing("qmgone", "maxRestartCount=0\n");
    std::vector<std::string> syslog;
    int status = runWithSyslog(failing.argv({agent(), "--exit=75"}), failing.dir.path(), syslog);
    if (status == SYSLOG_UNAVAILABLE) {
        ProgramRun run(failing.argv({agent(), "--exit=75"}), {});
        EXPECT_EQ(75, run.wait(LIMIT_MS));
        GTEST_SKIP() << "exit status checked; syslog is observed in a mount namespace, which needs root";
    }
    EXPECT_EQ(75, status);
    ASSERT_EQ(1u, syslog.size());
    std::string text = NLS::format("com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages",
                                   "ZRKPC0058_QM_UNAVAILABLE", failing.name);
    EXPECT_NE(std::string::npos, syslog[0].find("]: " + text)) << syslog[0];
    EXPECT_GE(findLine(failing.serviceLog(), "ProcessController shutdown, exit status: 75"), 0);

    // Any other status is the application's last exit code, and the entry says so.
    ServiceSetup crashing("crash", "maxRestartCount=0\n");
    EXPECT_EQ(3, runWithSyslog(crashing.argv({agent(), "--exit=3"}), crashing.dir.path(), syslog));
    ASSERT_EQ(1u, syslog.size());
    EXPECT_NE(std::string::npos, syslog[0].find("]: ZRKPC0087E: The service " + crashing.name +
                                                " has stopped; its application last ended with exit code 3."))
        << syslog[0];

    ServiceSetup clean("clean");
    EXPECT_EQ(0, runWithSyslog(clean.argv({agent(), "--exit=0"}), clean.dir.path(), syslog));
    EXPECT_TRUE(syslog.empty()) << syslog[0];
}

// The log directory cannot be made: the three files go to TMP with a warning in stderr.log, and
// the second start of the day appends to the same service log. The controller cannot even
// initialise (no application program): a failure too, although its shutdown() reports 0.
TEST(OstarapcserviceTest, FallsBackToTmpAndAControllerThatFailsToInitialiseFailsTheService)
{
    TempDir dir, tmp;
    std::string notADirectory = dir.write("plain-file", "");
    for (int start = 0; start < 2; ++start) {
        ProgramRun run({serviceProgram(), "tmp", notADirectory, "Fine", "-directory=" + dir.path()}, {"TMP=" + tmp.path()});
        EXPECT_EQ(78, run.wait(LIMIT_MS)) << run.output();
    }
    EXPECT_EQ(0u, tmp.read("stderr.log")
                      .find("Using TMP directory as could not create directory " + notADirectory +
                            "/logs due to error: Not a directory\n"))
        << tmp.read("stderr.log");
    EXPECT_EQ(0, access(tmp.file("stdout.log").c_str(), F_OK));
    std::vector<std::string> lines = readLines(serviceLogIn(tmp.path()));
    int first = findLine(lines, "logDirectory is: " + tmp.path());
    EXPECT_GE(first, 0);
    EXPECT_GE(findLine(lines, "ProcessController shutdown, exit status: 78", first), 0);
    EXPECT_GE(findLine(lines, "logDirectory is: " + tmp.path(), first + 1), 0) << "the second start did not append";
}

namespace {

// Receives until a notification holds text; false when none did before the deadline.
bool awaitStatus(NotifySocket& notify, const std::string& text)
{
    for (std::string m; !(m = notify.receive(LIMIT_MS)).empty();) {
        if (m.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

// STATUS= says what the agent does: waiting for its queue manager with the reason, running,
// restarting after an exit, stopping, stopped; each extension while stopping stays bounded.
TEST(OstarapcserviceTest, TellsSystemdWhatTheAgentDoesThroughWaitingRunningRestartingAndStopping)
{
    TempDir sim;
    VexilDaemon daemon(sim.path());
    ServiceSetup s("said");
    s.dir.write("agent.properties", "agentQMgr=QM1\nagentQMgrRetryInterval=1\n");
    NotifySocket notify(s.dir.file("notify"));
    ProgramRun service(s.argv({agent(), "--exit=1", "--after-ms=3000"}), {"NOTIFY_SOCKET=" + notify.path()});
    EXPECT_TRUE(awaitStatus(notify, "STATUS=waiting for queue manager QM1 (reason code 2059)"));
    ASSERT_TRUE(daemon.start("QM1"));
    EXPECT_TRUE(awaitStatus(notify, "STATUS=agent running (pid "));
    EXPECT_TRUE(awaitStatus(notify, "STATUS=restarting after exit code 1 (restart 1 of 4)"));
    EXPECT_TRUE(awaitStatus(notify, ", restarts so far 1)"));
    service.signal(SIGTERM);
    EXPECT_TRUE(awaitStatus(notify, "STATUS=stopping"));
    EXPECT_TRUE(awaitStatus(notify, "STATUS=stopped (exit code "));
    EXPECT_EQ(0, service.wait(LIMIT_MS)) << service.output();
    while (!notify.receive(1000).empty()) {
    }
    EXPECT_EQ("STATUS=Stopped", notify.received.back());
    for (const std::string& m : notify.received) {
        EXPECT_TRUE(m.find("EXTEND_TIMEOUT_USEC=") == std::string::npos ||
                    m.find("EXTEND_TIMEOUT_USEC=40000000\n") != std::string::npos)
            << m;
    }
}

// A start that fails says why on the standard error it was started with, promptly and with the
// exit code of a configuration error; a bad properties value names the item and the value.
TEST(OstarapcserviceTest, AFailedStartSaysWhyOnTheStartersStandardError)
{
    ProgramRun help({serviceProgram(), "--help"}, {});
    EXPECT_EQ(0, help.wait(LIMIT_MS));
    for (const char* word : {"-appId=", "-directory=", "-properties=", " -F ", "traceSpecification=", "product.root=",
                             "Finest", "78 configuration error", "stderr.log", "journalctl -t", "-uninstall"}) {
        EXPECT_NE(std::string::npos, help.output().find(word)) << word;
    }

    ProgramRun bare({serviceProgram(), "svc", "/nonexistent", "Info"}, {});
    EXPECT_EQ(1, bare.wait(LIMIT_MS));
    EXPECT_NE(std::string::npos, bare.output().find("Insufficient service arguments")) << bare.output();

    for (std::string item :
         {"outputLogSize=abc", "maxRestartCount=-5", "agentQMgrRetryInterval=-5", "outputLogFiles=2147483647"}) {
        ServiceSetup s("bad", item + "\n");
        ProgramRun run(s.argv({agent()}), {});
        EXPECT_EQ(78, run.wait(20000)) << item;
        std::string out = run.output();
        EXPECT_EQ(0u, out.find("ZRKPC0072E: The service " + s.name + " failed to start: ")) << out;
        EXPECT_NE(std::string::npos, out.find(item.substr(0, item.find('=')))) << out;
        EXPECT_NE(std::string::npos, out.find(s.dir.file("logs"))) << out;
        EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
    }

    ServiceSetup s("noid");
    std::vector<std::string> argv = s.argv({agent()});
    argv.erase(std::find(argv.begin(), argv.end(), "-appId=" + s.name));
    ProgramRun noId(argv, {});
    EXPECT_EQ(78, noId.wait(20000));
    EXPECT_NE(std::string::npos, noId.output().find("ZRKPC0070E")) << noId.output();
    // Only the product-root option says where the catalogues are, yet the refusal is text.
    argv[3] = "Verbose";
    ProgramRun badLevel(argv, {"ZRK_PROD="});
    EXPECT_EQ(78, badLevel.wait(20000));
    EXPECT_NE(std::string::npos, badLevel.output().find("ZRKPC0071E: The log level Verbose")) << badLevel.output();
}

// A second service for an application that one already serves is refused, and whoever
// started it is told why, not only that it was a configuration error.
TEST(OstarapcserviceTest, ASecondServiceForOneApplicationSaysWhyItCannotStart)
{
    ServiceSetup first("dup");
    NotifySocket notify(first.dir.file("notify"));
    ProgramRun running(first.argv({agent()}), {"NOTIFY_SOCKET=" + notify.path()});
    ASSERT_TRUE(awaitStatus(notify, "STATUS=agent running (pid "));
    ServiceSetup second("again");
    std::vector<std::string> argv = second.argv({agent()});
    std::replace(argv.begin(), argv.end(), "-appId=" + second.name, "-appId=" + first.name);
    ProgramRun refused(argv, {});
    EXPECT_EQ(78, refused.wait(20000));
    EXPECT_NE(std::string::npos, refused.output().find("ZRKNV0087E")) << refused.output();
    running.signal(SIGTERM);
    EXPECT_EQ(0, running.wait(LIMIT_MS)) << running.output();
}

// Run from a script in a terminal, Ctrl-C there stops the service (it keeps the terminal's
// session rather than starting its own).
TEST(OstarapcserviceTest, CtrlCInItsTerminalStopsTheService)
{
    ServiceSetup s("tty");
    NotifySocket notify(s.dir.file("notify"));
    std::vector<std::string> args = s.argv({agent()});
    std::vector<char*> argp;
    for (auto& a : args) {
        argp.push_back(&a[0]);
    }
    argp.push_back(nullptr);
    std::string notifyEnv = "NOTIFY_SOCKET=" + notify.path();
    std::vector<char*> envp = {&notifyEnv[0]};
    for (char** e = environ; *e; ++e) {
        envp.push_back(*e);
    }
    envp.push_back(nullptr);
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A script in the terminal: it ignores Ctrl-C itself and runs the service in its own
        // process group, as a shell without job control does. Only async-signal-safe calls here.
        struct sigaction ignore = {}, restore = {};
        ignore.sa_handler = SIG_IGN;
        restore.sa_handler = SIG_DFL;
        sigaction(SIGINT, &ignore, nullptr);
        pid_t service = fork();
        if (service == 0) {
            sigaction(SIGINT, &restore, nullptr);
            execve(argp[0], argp.data(), envp.data());
            _exit(127);
        }
        int serviceStatus = 0;
        while (service > 0 && waitpid(service, &serviceStatus, 0) < 0 && errno == EINTR) {
        }
        _exit(service > 0 && WIFEXITED(serviceStatus) ? WEXITSTATUS(serviceStatus) : 126);
    }
    fcntl(master, F_SETFL, O_NONBLOCK);
    EXPECT_TRUE(awaitStatus(notify, "STATUS=agent running (pid "));
    char interrupt = 3;   // the terminal's VINTR: SIGINT to its foreground process group
    EXPECT_EQ(1, write(master, &interrupt, 1));
    int status = -1;
    for (int i = 0; i < 3000 && waitpid(child, &status, WNOHANG) == 0; ++i) {
        char drain[256];
        while (read(master, drain, sizeof drain) > 0) {
        }
        usleep(20000);
        status = -1;
    }
    if (status == -1) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        std::string servicePid = s.dir.read("work/ostarapc.pid");   // a service that left the session
        if (std::atoi(servicePid.c_str()) > 0) {
            kill(std::atoi(servicePid.c_str()), SIGKILL);
        }
    }
    close(master);
    // The agent shares the terminal's process group here, so its own end may colour the exit code.
    ASSERT_NE(-1, status) << "Ctrl-C did not stop the service";
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_GE(findLine(s.serviceLog(), "Service " + s.name + " stop requested"), 0);
}
