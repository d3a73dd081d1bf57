#include "VexilDaemon.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "VexilSim.h"

VexilDaemon::VexilDaemon(const std::string& simDir) : dir(simDir), pid(-1)
{
    _putenv_s("VEXIL_SIM_DIR", dir.c_str());
    SetEnvironmentVariableA("VEXIL_SIM_DIR", dir.c_str());
}

VexilDaemon::~VexilDaemon() { stop(); }

bool VexilDaemon::start(const std::string& name, bool refusing)
{
    stop();
    served = name;
    refuse(false);
    std::string program = std::string(OSTARA_TOOLS_DIR) + "/vexil-qmgr.exe";
    std::string command = "\"" + program + "\" " + name + (refusing ? " --refuse" : "");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    pid = static_cast<pid_t>(info.dwProcessId);
    std::string pipe = vexilsim::pipeName(name);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (WaitNamedPipeA(pipe.c_str(), 0) || GetLastError() == ERROR_SEM_TIMEOUT) {
            return true; // the pipe exists: the daemon serves
        }
        if (WaitForSingleObject(process, 5) == WAIT_OBJECT_0) {
            stop();
            return false;
        }
    }
    return false;
}

void VexilDaemon::stop()
{
    if (process) {
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
        process = nullptr;
        pid = -1;
    }
}

void VexilDaemon::refuse(bool on)
{
    if (served.empty()) {
        return;
    }
    std::string flag = vexilsim::refuseFlagPath(served);
    if (on) {
        HANDLE h = CreateFileA(flag.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    } else {
        DeleteFileA(flag.c_str());
    }
}
