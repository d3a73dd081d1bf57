#include "ManagedService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace {

const DWORD ALL_STATES =
    SERVICE_NOTIFY_STOPPED | SERVICE_NOTIFY_START_PENDING | SERVICE_NOTIFY_STOP_PENDING | SERVICE_NOTIFY_RUNNING;

// SERVICE_NOTIFY_* bit of a state: STOPPED 1, START_PENDING 2, STOP_PENDING 4, RUNNING 8.
DWORD bitOf(DWORD state) { return state >= SERVICE_STOPPED && state <= SERVICE_RUNNING ? 1u << (state - 1) : 0; }

std::string agentProgram() { return windowsPath(std::string(OSTARA_TOOLS_DIR) + "/fakejdk/bin/java"); }

bool alive(DWORD pid)
{
    HANDLE h = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    if (!h) {
        return false;
    }
    bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running;
}

// Ends the process pid when it still runs the program named program: an id seen earlier may
// name another process by now.
void end(DWORD pid, const std::string& program)
{
    HANDLE h = pid ? OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid)
                   : nullptr;
    if (!h) {
        return;
    }
    char image[MAX_PATH];
    DWORD size = sizeof image;
    std::string path = QueryFullProcessImageNameA(h, 0, image, &size) ? std::string(image, size) : "";
    if (path.size() > program.size() && _stricmp(path.c_str() + path.size() - program.size(), program.c_str()) == 0 &&
        path[path.size() - program.size() - 1] == '\\') {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 10000);
    }
    CloseHandle(h);
}

} // namespace

void CALLBACK ManagedService::notified(void* parameter)
{
    SERVICE_NOTIFYW* n = static_cast<SERVICE_NOTIFYW*>(parameter);
    Sink* sink = static_cast<Sink*>(n->pContext);
    if (n == sink->current && n->dwNotificationStatus == ERROR_SUCCESS) {
        sink->seen.push_back(n->ServiceStatus);
    }
}

ManagedService::ManagedService(const std::string& base, const std::string& properties)
    : name(base + std::to_string(GetCurrentProcessId())),
      manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)), service(nullptr), lastPid(0), sink(new Sink)
{
    CreateDirectoryA(file("work").c_str(), nullptr);
    temp.write("agent.properties", properties);
    EXPECT_NE(nullptr, manager) << "OpenSCManagerA failed: " << GetLastError();
}

ManagedService::~ManagedService()
{
    if (DWORD pid = status().dwProcessId) {
        lastPid = pid;
    }
    sink->current = nullptr;
    for (SC_HANDLE h : watchHandles) {
        CloseServiceHandle(h);
    }
    if (service) {
        // Asked to stop first; what does not end in time is ended, then the service deleted.
        SERVICE_STATUS ignored;
        if (status().dwCurrentState != SERVICE_STOPPED) {
            ControlService(service, SERVICE_CONTROL_STOP, &ignored);
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (status().dwCurrentState != SERVICE_STOPPED && alive(lastPid) &&
                   std::chrono::steady_clock::now() < deadline) {
                Sleep(50);
            }
        }
        end(lastPid, "ostarapcservice.exe");
        endAgents();
        DeleteService(service);
        CloseServiceHandle(service);
    } else if (manager) {
        // An install this object did not see through may still have created the service.
        SC_HANDLE left = OpenServiceA(manager, name.c_str(), DELETE);
        if (left) {
            DeleteService(left);
            CloseServiceHandle(left);
        }
    }
    if (manager) {
        CloseServiceHandle(manager);
    }
}

std::vector<std::string> ManagedService::commandLine(const std::vector<std::string>& agentArgs) const
{
    std::vector<std::string> args = {name,
                                     dir(),
                                     "Info",
                                     "-directory=" + file("work"),
                                     "-appId=" + name,
                                     "-properties=" + file("agent.properties"),
                                     "-Dcom.quillon.velbrix.product.root=" + windowsPath(OSTARA_PRODUCT_ROOT),
                                     agentProgram()};
    args.insert(args.end(), agentArgs.begin(), agentArgs.end());
    return args;
}

ProgramResult ManagedService::install(const std::vector<std::string>& agentArgs, const std::vector<std::string>& extra)
{
    std::vector<std::string> line = commandLine(agentArgs);
    std::vector<std::string> argv = {windowsPath(std::string(OSTARA_BIN_DIR) + "/ostarapcservice.exe"), "-install",
                                     "-serviceName=" + name};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back("-directory=" + line[1]);
    argv.push_back("-logLevel=" + line[2]);
    argv.push_back("-pcOptions=" + line[3]);
    argv.insert(argv.end(), line.begin() + 4, line.end());
    ProgramResult result = runProgram(argv, 60000);
    if (!service && manager) {
        service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
    }
    return result;
}

ProgramResult ManagedService::ostaractl(const std::string& command) const
{
    return runProgram({windowsPath(std::string(OSTARA_BIN_DIR) + "/ostaractl.exe"), name, command}, 30000);
}

SERVICE_STATUS_PROCESS ManagedService::status() const
{
    SERVICE_STATUS_PROCESS s{};
    DWORD needed = 0;
    if (!service || !QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s, &needed)) {
        s.dwCurrentState = 0;
    }
    return s;
}

bool ManagedService::running() const
{
    SERVICE_STATUS_PROCESS now = status();
    return now.dwCurrentState == SERVICE_RUNNING && alive(now.dwProcessId);
}

void ManagedService::release()
{
    if (service) {
        CloseServiceHandle(service);
        service = nullptr;
    }
}

void ManagedService::arm(DWORD mask)
{
    DWORD current = status().dwCurrentState;
    SC_HANDLE h = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, h) << "OpenServiceA failed: " << GetLastError();
    watchHandles.push_back(h);
    SERVICE_NOTIFYW* n = new SERVICE_NOTIFYW();
    n->dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
    n->pfnNotifyCallback = notified;
    n->pContext = sink;
    sink->current = n;
    // The current state is left out, or the manager would report it at once.
    DWORD result = NotifyServiceStatusChangeW(h, (ALL_STATES | mask) & ~bitOf(current), n);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), result) << "NotifyServiceStatusChangeW failed";
}

std::vector<SERVICE_STATUS_PROCESS> ManagedService::collect(DWORD until, int timeoutMs)
{
    sink->seen.clear();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<SERVICE_STATUS_PROCESS> states;
    // A state is recorded once however it was learnt; true when it is one awaited.
    auto add = [&](const SERVICE_STATUS_PROCESS& s) {
        if (states.empty() || states.back().dwCurrentState != s.dwCurrentState) {
            states.push_back(s);
        }
        return (bitOf(s.dwCurrentState) & until) != 0;
    };
    int deadFor = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        // Notifications arrive as calls on this thread while it waits alertably.
        if (SleepEx(100, TRUE) == WAIT_IO_COMPLETION && !sink->seen.empty()) {
            std::vector<SERVICE_STATUS_PROCESS> arrived;
            arrived.swap(sink->seen);
            bool done = false;
            for (const SERVICE_STATUS_PROCESS& s : arrived) {
                done = add(s) || done;
            }
            if (done) {
                return states;
            }
            // Wine reports only changes after a registration, Windows also the state at
            // registration: what changed in between is read once registered again.
            arm(0);
            if (add(status())) {
                return states;
            }
        }
        SERVICE_STATUS_PROCESS now = status();
        if (now.dwProcessId) {
            lastPid = now.dwProcessId;
        }
        // The manager may take a moment to notice; two seconds without STOPPED is a fault.
        deadFor = lastPid && !alive(lastPid) && now.dwCurrentState != SERVICE_STOPPED ? deadFor + 1 : 0;
        if (deadFor > 20) {
            ADD_FAILURE() << "the process of service " << name << " ended while the manager shows state "
                          << now.dwCurrentState << "; its standard error:\n"
                          << read("logs/stderr.log");
            return states;
        }
    }
    ADD_FAILURE() << "service " << name << " did not reach the awaited state (mask " << until << ") in " << timeoutMs
                  << " ms; it shows " << status().dwCurrentState;
    return states;
}

std::vector<std::string> ManagedService::serviceLog() const
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(file("logs\\service*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return {};
    }
    FindClose(search);
    return readLines(file("logs\\") + found.cFileName);
}

void ManagedService::endAgents() const
{
    // The sample agent logs "run=N pid=P args=..." for every start.
    for (const std::string& line : readLines(file("work\\sample-agent.log"))) {
        size_t at = line.find(" pid=");
        if (at != std::string::npos) {
            end(static_cast<DWORD>(std::strtoul(line.c_str() + at + 5, nullptr, 10)), "java.exe");
        }
    }
}
