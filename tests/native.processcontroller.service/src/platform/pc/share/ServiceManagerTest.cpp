// The staged service program under the service control manager, as an operator meets it:
// installed with -install, started and stopped through the manager, supervising the sample
// agent against the simulated queue manager and answering ostaractl over its named pipe.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <chrono>

#include "EventWatch.h"
#include "ManagedService.h"
#include "NLS.h"
#include "ServiceRegistry.h"
#include "UnderWine.h"
#include "VexilDaemon.h"

namespace {

const int LIMIT_MS = 60000;
const char* const CATALOGUE = "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages";

// A service gets the manager's environment, not the test's: without VEXIL_SIM_DIR its queue
// manager library looks for the simulated daemons in the default directory.
const char* const SERVICE_SIM_DIR = "/tmp/.vexil-sim";

std::string queueManager(const char* base) { return base + std::to_string(GetCurrentProcessId()); }

std::string properties(const std::string& qmgr, const std::string& more = "")
{
    return "agentQMgr=" + qmgr + "\nagentQMgrRetryInterval=1\n" + more;
}

// Asks ostaractl for the status until it holds text, for at most a minute and while the
// service runs; the last answer either way.
ProgramResult statusOnceItSays(const ManagedService& s, const std::string& text)
{
    ProgramResult status = {-1, ""};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LIMIT_MS);
    while (std::chrono::steady_clock::now() < deadline) {
        status = s.ostaractl("status");
        if (status.exitCode == 0 && status.output.find(text) != std::string::npos) {
            break;
        }
        if (!s.running()) {
            status.output += "(the service is no longer running)";
            break;
        }
        Sleep(100);
    }
    return status;
}

std::string asWineQuotes(const std::string& text)
{
    std::string quoted = "L\"";
    for (char c : text) {
        quoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
    }
    return quoted + "\"";
}

// The one event a service reports under its name, with the text of a catalogue key.
void expectOneEvent(const EventWatch& events, const std::string& service, const std::string& key)
{
    std::string text = NLS::format(CATALOGUE, key, service);
    std::vector<std::string> reported = events.eventsOf(service);
    ASSERT_EQ(1u, reported.size()) << "events under " << service
                                    << (underWine() ? " (Wine shows them only in " OSTARA_WINE_SERVICES_LOG
                                                      ", when wine-run.sh started the wineserver)"
                                                    : "");
    if (underWine()) {
        EXPECT_EQ("L\"" + service + "\"\n" + asWineQuotes(text), reported[0]);
    } else {
        EXPECT_EQ(service + "\n" + text, reported[0]);
    }
}

// Starts the installed service and expects it to end by itself, STOPPED with the
// service-specific error code.
void expectStartedThenStoppedWith(ManagedService& s, DWORD code)
{
    std::vector<SERVICE_STATUS_PROCESS> states = s.watch(SERVICE_NOTIFY_STOPPED, LIMIT_MS, [&] {
        EXPECT_TRUE(StartServiceA(s.handle(), 0, nullptr)) << GetLastError();
    });
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), states.back().dwCurrentState);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR), states.back().dwWin32ExitCode);
    EXPECT_EQ(code, states.back().dwServiceSpecificExitCode);
}

} // namespace

// -install registers the program with its display name, description and command line; the
// same name again gives the installer's result for a service not created; -uninstall removes it.
TEST(ServiceManagerTest, InstallRegistersTheServiceOnceAndUninstallRemovesIt)
{
    ManagedService s("ostaraInstall", properties("QM1"));
    ProgramResult installed = s.install({}, {"-displayName=Ostara test service", "-description=Supervises the agent"});
    ASSERT_EQ(0, installed.exitCode) << installed.output;
    EXPECT_EQ("ZRKPC0019I: The service " + s.name + " has been installed.\n", installed.output);
    ASSERT_NE(nullptr, s.handle());

    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigA(s.handle(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                                    static_cast<DWORD>(buffer.size()), &needed));
    const QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    EXPECT_STREQ("Ostara test service", config->lpDisplayName);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
    std::string command = config->lpBinaryPathName;
    std::string arguments;
    for (const std::string& arg : s.commandLine({})) {
        arguments += " " + arg;
    }
    EXPECT_NE(std::string::npos, command.find("\\ostarapcservice.exe" + arguments)) << command;

    std::vector<BYTE> described(8192);
    ASSERT_TRUE(QueryServiceConfig2A(s.handle(), SERVICE_CONFIG_DESCRIPTION, described.data(),
                                     static_cast<DWORD>(described.size()), &needed));
    EXPECT_STREQ("Supervises the agent", reinterpret_cast<SERVICE_DESCRIPTIONA*>(described.data())->lpDescription);

    ProgramResult again = s.install({});
    EXPECT_EQ(-6, again.exitCode) << again.output;
    EXPECT_EQ(0u, again.output.find("ZRKPC0017E")) << again.output;
    // A name the manager would take but no operator could use again is refused the same way.
    std::string program = windowsPath(std::string(OSTARA_BIN_DIR) + "/ostarapcservice.exe");
    ProgramResult slashed =
        runProgram({program, "-install", "-serviceName=ostara\\bad", "-pcOptions=-appId=x", "java"}, LIMIT_MS);
    EXPECT_EQ(-6, slashed.exitCode) << slashed.output;
    EXPECT_EQ(0u, slashed.output.find("ZRKPC0017E")) << slashed.output;

    s.release();
    ProgramResult removed = runProgram({program, "-uninstall", "-serviceName=" + s.name}, LIMIT_MS);
    EXPECT_EQ(0, removed.exitCode) << removed.output;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE gone = OpenServiceA(manager, s.name.c_str(), SERVICE_QUERY_STATUS);
    EXPECT_EQ(nullptr, gone);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
    if (gone) {
        CloseServiceHandle(gone);
    }
    CloseServiceHandle(manager);
    ProgramResult removedAgain = runProgram({program, "-uninstall", "-serviceName=" + s.name}, LIMIT_MS);
    EXPECT_EQ(-8, removedAgain.exitCode) << removedAgain.output;
}

// The whole life through the manager: START_PENDING then RUNNING; with its queue manager down
// the service runs and waits, saying why, and starts the agent once the queue manager
// accepts; ostaractl answers over the pipe; INTERROGATE re-reports; a stop asks the agent
// through its pipe and ends STOPPED with 0; the service log tells it in order.
TEST(ServiceManagerTest, WaitsForItsQueueManagerThenRunsTheAgentAnswersAndStopsCleanly)
{
    VexilDaemon daemon(SERVICE_SIM_DIR);
    std::string qmgr = queueManager("QMLIFE");
    ManagedService s("ostaraLife", properties(qmgr));
    ProgramResult installed = s.install({});
    ASSERT_EQ(0, installed.exitCode) << installed.output;

    std::vector<SERVICE_STATUS_PROCESS> started = s.watch(SERVICE_NOTIFY_RUNNING, LIMIT_MS, [&] {
        EXPECT_TRUE(StartServiceA(s.handle(), 0, nullptr)) << GetLastError();
    });
    ASSERT_EQ(2u, started.size());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), started[0].dwCurrentState);
    EXPECT_EQ(1u, started[0].dwCheckPoint);
    EXPECT_GT(started[0].dwWaitHint, 0u);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), started[1].dwCurrentState);
    EXPECT_EQ(0u, started[1].dwWaitHint);
    EXPECT_TRUE(started[1].dwControlsAccepted & SERVICE_ACCEPT_STOP);

    ProgramResult waiting = statusOnceItSays(s, "queueManagerLastError=2059");
    EXPECT_EQ(0, waiting.exitCode) << waiting.output;
    EXPECT_NE(std::string::npos, waiting.output.find("processControllerStatus=WAITING")) << waiting.output;
    EXPECT_EQ("", s.read("work/sample-agent.log")) << "the agent started before its queue manager accepted";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), s.status().dwCurrentState);

    ASSERT_TRUE(daemon.start(qmgr));
    ProgramResult running = statusOnceItSays(s, "processControllerStatus=STARTED");
    EXPECT_NE(std::string::npos, running.output.find("processControllerStatus=STARTED")) << running.output;
    for (int i = 0; i < 300 && s.read("work/sample-agent.log").empty(); ++i) {
        Sleep(100);
    }
    EXPECT_EQ(0u, s.read("work/sample-agent.log").find("run=1 pid=")) << running.output;

    SERVICE_STATUS interrogated{};
    EXPECT_TRUE(ControlService(s.handle(), SERVICE_CONTROL_INTERROGATE, &interrogated)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), interrogated.dwCurrentState);

    SERVICE_STATUS stopping{};
    std::vector<SERVICE_STATUS_PROCESS> stopped = s.watch(SERVICE_NOTIFY_STOPPED, LIMIT_MS, [&] {
        EXPECT_TRUE(ControlService(s.handle(), SERVICE_CONTROL_STOP, &stopping)) << GetLastError();
    });
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), stopping.dwCurrentState);
    EXPECT_GT(stopping.dwWaitHint, 0u);
    ASSERT_FALSE(stopped.empty());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), stopped.front().dwCurrentState);
    EXPECT_GT(stopped.front().dwWaitHint, 0u);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), stopped.back().dwCurrentState);
    EXPECT_EQ(0u, stopped.back().dwWin32ExitCode);
    EXPECT_EQ(0u, stopped.back().dwServiceSpecificExitCode);
    // Asked through its pipe rather than ended: the agent said so on its way out.
    EXPECT_NE(std::string::npos, s.read("logs/stdout.log").find("sample-agent: run 1 exits with 0"))
        << s.read("logs/stdout.log");

    std::vector<std::string> args = s.commandLine({});
    std::vector<std::string> expected = {"Service " + s.name + " starting", "logDirectory is: " + s.file("logs"),
                                         "logLevel is: Info", "service arguments:"};
    for (size_t i = 0; i < args.size(); ++i) {
        expected.push_back("arg[" + std::to_string(i + 1) + "] : " + args[i]);
    }
    for (std::string line : {"ProcessController starting", "Service stop requested", "Service stop complete",
                             "ProcessController shutdown requested", "ProcessController shutdown, exit status: 0",
                             "Service exiting"}) {
        expected.push_back(line.compare(0, 8, "Service ") == 0 ? line.insert(8, s.name + " ") : line);
    }
    std::vector<std::string> lines = s.serviceLog();
    for (std::string& line : lines) {
        line = line.substr(line.find("] ") + 2);
    }
    ASSERT_EQ(expected.size() + 1, lines.size());
    EXPECT_EQ(0u, lines[4].find("arg[0] : ")) << lines[4];
    lines.erase(lines.begin() + 4);
    EXPECT_EQ(expected, lines);
}

// An agent that ends with 78 is not restarted: the service stops with the service-specific
// error 78 and one event under the service name.
TEST(ServiceManagerTest, AnAgentEndingWithAConfigurationErrorStopsTheServiceWithItsCodeAndOneEvent)
{
    VexilDaemon daemon(SERVICE_SIM_DIR);
    std::string qmgr = queueManager("QMCONF");
    ASSERT_TRUE(daemon.start(qmgr));
    ManagedService s("ostaraConfig", properties(qmgr));
    ASSERT_EQ(0, s.install({"--exit=78"}).exitCode);
    EventWatch events;
    expectStartedThenStoppedWith(s, 78);
    EXPECT_GE(findLine(s.serviceLog(), "ProcessController shutdown, exit status: 78"), 0);
    expectOneEvent(events, s.name, "ZRKPC0054_CONFIG_ERROR");

    // A bad properties value ends the service with 78 at once, before any agent starts.
    ManagedService bad("ostaraBadValue", properties(qmgr, "maxRestartCount=-5\n"));
    ASSERT_EQ(0, bad.install({}).exitCode);
    std::vector<SERVICE_STATUS_PROCESS> states = bad.watch(SERVICE_NOTIFY_STOPPED, 20000, [&] {
        // Wine fails the start of a service that stops while starting with 1053; Windows starts it.
        if (!StartServiceA(bad.handle(), 0, nullptr)) {
            EXPECT_TRUE(underWine() && GetLastError() == ERROR_SERVICE_REQUEST_TIMEOUT) << GetLastError();
        }
    });
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(78u, states.back().dwServiceSpecificExitCode);
    EXPECT_EQ("", bad.read("work/sample-agent.log"));
}

// The restart budget end to end: five quick failures (four restarts) stop the service, with the
// controller's message for a used-up budget, the service-specific code 1 and one event.
TEST(ServiceManagerTest, AnAgentFailingFiveTimesQuicklyStopsTheServiceWhenTheRestartBudgetIsUsedUp)
{
    VexilDaemon daemon(SERVICE_SIM_DIR);
    std::string qmgr = queueManager("QMBUDGET");
    ASSERT_TRUE(daemon.start(qmgr));
    ManagedService s("ostaraBudget", properties(qmgr));
    ASSERT_EQ(0, s.install({"--exit=1"}).exitCode);
    EventWatch events;
    expectStartedThenStoppedWith(s, 1);
    EXPECT_EQ(5u, readLines(s.file("work\\sample-agent.log")).size());
    std::string controllerEvents = s.read("work/logs/pcevent0.log");
    EXPECT_NE(std::string::npos, controllerEvents.find("ZRKPC0025")) << controllerEvents;
    expectOneEvent(events, s.name, "ZRKPC0061_GENERAL_ERROR");
}

// A stop sent the moment the manager lets one through (it refuses them while the service is
// START_PENDING: 1061, under Wine 1052) ends the service cleanly rather than being lost.
TEST(ServiceManagerTest, AStopAsEarlyAsTheManagerAllowsIsNotLost)
{
    VexilDaemon daemon(SERVICE_SIM_DIR);
    std::string qmgr = queueManager("QMEARLY");
    ASSERT_TRUE(daemon.start(qmgr));
    ManagedService s("ostaraEarly", properties(qmgr));
    ASSERT_EQ(0, s.install({}).exitCode);
    std::vector<SERVICE_STATUS_PROCESS> states = s.watch(SERVICE_NOTIFY_STOPPED, LIMIT_MS, [&] {
        ASSERT_TRUE(StartServiceA(s.handle(), 0, nullptr)) << GetLastError();
        SERVICE_STATUS stopping{};
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LIMIT_MS);
        BOOL sent = FALSE;
        while (!(sent = ControlService(s.handle(), SERVICE_CONTROL_STOP, &stopping)) &&
               (GetLastError() == ERROR_SERVICE_CANNOT_ACCEPT_CTRL || GetLastError() == ERROR_INVALID_SERVICE_CONTROL) &&
               std::chrono::steady_clock::now() < deadline) {
        }
        EXPECT_TRUE(sent) << GetLastError();
    });
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), states.back().dwCurrentState);
    EXPECT_EQ(0u, states.back().dwWin32ExitCode);
    EXPECT_GE(findLine(s.serviceLog(), "Service " + s.name + " exiting"), 0);
}

// Windows notices a service process that ends without reporting STOPPED (1067).
TEST(ServiceManagerTest, AServiceWhoseProcessDiesIsReportedStopped)
{
    if (underWine()) {
        GTEST_SKIP() << "Wine's service manager never notices a service process that dies: its status stays "
                        "RUNNING, with no 1067";
    }
    VexilDaemon daemon(SERVICE_SIM_DIR);
    std::string qmgr = queueManager("QMDIES");
    ASSERT_TRUE(daemon.start(qmgr));
    ManagedService s("ostaraDies", properties(qmgr));
    ASSERT_EQ(0, s.install({}).exitCode);
    s.watch(SERVICE_NOTIFY_RUNNING, LIMIT_MS, [&] { EXPECT_TRUE(StartServiceA(s.handle(), 0, nullptr)); });
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, s.status().dwProcessId);
    ASSERT_NE(nullptr, process);
    std::vector<SERVICE_STATUS_PROCESS> states =
        s.watch(SERVICE_NOTIFY_STOPPED, LIMIT_MS, [&] { TerminateProcess(process, 9); });
    CloseHandle(process);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROCESS_ABORTED), states.back().dwWin32ExitCode);
}

// The registered command line splits back into exactly the words it was made of, as the
// service's own argument parsing does it: blanks, quotes, and backslashes before a closing
// quote (a directory given as "C:\Program Files\x\") included.
TEST(ServiceRegistryTest, TheCommandLineSplitsBackIntoTheSameWords)
{
    std::vector<std::string> words = {"C:\\Program Files\\ostara\\bin64\\ostarapcservice.exe",
                                      "NAME",
                                      "C:\\Program Files\\ostara logs\\",
                                      "Info",
                                      "-directory=C:\\a b\\",
                                      "say \"hi\"",
                                      "x\\\\\"y",
                                      "plain\\",
                                      "",
                                      "tab\there"};
    std::string line = ServiceRegistry::commandLine(words);
    int count = 0;
    std::wstring wide(line.begin(), line.end());
    LPWSTR* split = CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_NE(nullptr, split) << line;
    std::vector<std::string> back;
    for (int i = 0; i < count; ++i) {
        std::wstring w(split[i]);
        back.emplace_back(w.begin(), w.end());
    }
    LocalFree(split);
    EXPECT_EQ(words, back) << line;
}

