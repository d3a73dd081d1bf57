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

void end(DWORD pid)
{
    HANDLE h = pid ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid) : nullptr;
    if (h) {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 10000);
        CloseHandle(h);
    }
}

void CALLBACK notified(void* parameter)
{
    SERVICE_NOTIFYW* n = static_cast<SERVICE_NOTIFYW*>(parameter);
    if (n->dwNotificationStatus == ERROR_SUCCESS) {
        static_cast<std::vector<SERVICE_STATUS_PROCESS>*>(n->pContext)->push_back(n->ServiceStatus);
    }
}

} // namespace

ManagedService::ManagedService(const std::string& base, const std::string& properties)
    : name(base + std::to_string(GetCurrentProcessId())),
      manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)), service(nullptr), lastPid(0)
{
    CreateDirectoryA(file("work").c_str(), nullptr);
    temp.write("agent.properties", properties);
    EXPECT_NE(nullptr, manager) << "OpenSCManagerA failed: " << GetLastError();
}

ManagedService::~ManagedService()
{
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
        end(lastPid);
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
    notifications.emplace_back();
    SERVICE_NOTIFYW& n = notifications.back();
    n.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
    n.pfnNotifyCallback = notified;
    n.pContext = &seen;
    // The current state is left out, or the manager would report it at once. Wine frees the
    // handle's previous registration just after delivering it: a moment later it is free.
    DWORD result = ERROR_ALREADY_REGISTERED;
    for (int i = 0; i < 100 && result == ERROR_ALREADY_REGISTERED; ++i) {
        result = NotifyServiceStatusChangeW(service, (ALL_STATES | mask) & ~bitOf(current), &n);
        if (result == ERROR_ALREADY_REGISTERED) {
            Sleep(10);
        }
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), result) << "NotifyServiceStatusChangeW failed";
}

std::vector<SERVICE_STATUS_PROCESS> ManagedService::collect(DWORD until, int timeoutMs)
{
    seen.clear();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<SERVICE_STATUS_PROCESS> states;
    int shownUnnotified = 0, deadFor = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        // Notifications arrive as calls on this thread while it waits alertably.
        if (SleepEx(100, TRUE) == WAIT_IO_COMPLETION && !seen.empty()) {
            states.insert(states.end(), seen.begin(), seen.end());
            seen.clear();
            if (states.back().dwProcessId) {
                lastPid = states.back().dwProcessId;
            }
            if (bitOf(states.back().dwCurrentState) & until) {
                return states;
            }
            arm(0);
        }
        SERVICE_STATUS_PROCESS now = status();
        if (now.dwProcessId) {
            lastPid = now.dwProcessId;
        }
        // A state awaited that the manager shows but has not notified within a second counts.
        if (bitOf(now.dwCurrentState) & until) {
            if (++shownUnnotified > 10) {
                states.push_back(now);
                return states;
            }
        } else {
            shownUnnotified = 0;
        }
        // The manager may take a moment to notice; two seconds without STOPPED is a fault.
        deadFor = lastPid && !alive(lastPid) && now.dwCurrentState != SERVICE_STOPPED ? deadFor + 1 : 0;
        if (deadFor > 20) {
            ADD_FAILURE() << "the process of service " << name << " ended while the manager shows state "
                          << now.dwCurrentState << "; service log:\n"
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
            end(static_cast<DWORD>(std::strtoul(line.c_str() + at + 5, nullptr, 10)));
        }
    }
}
