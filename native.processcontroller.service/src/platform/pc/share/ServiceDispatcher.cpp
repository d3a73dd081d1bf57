#include "ServiceDispatcher.h"

#include <atomic>
#include <mutex>

#include "KorrException.h"
#include "KorrRunnable.h"
#include "KorrThreadImpl.h"
#include "KorrUtils.h"
#include "ServiceStatus.h"

// After the product's headers: windows.h defines STILL_ACTIVE, a name KorrThread uses.
#include <windows.h>

namespace {

std::string dispatchedName;                              // set by start() before the dispatcher runs
ServiceDispatcher::ServiceProcedure serviceProcedure = nullptr;
std::atomic<int> procedureResult{1};
std::atomic<ServiceDispatcher::ControlHandler> handler{nullptr};
bool consoleMode = false;
SERVICE_STATUS_HANDLE statusHandle = nullptr;            // set on registration, before any status
std::atomic<bool> stoppedReported{false};                // a STOPPED status reached the manager
std::mutex consoleLock;                                  // console mode: a stop before registration
bool consoleStopPending = false;                         // guarded by consoleLock

DWORD WINAPI controlHandlerEx(DWORD control, DWORD, LPVOID, LPVOID)
{
    ServiceDispatcher::ControlHandler h = handler.load();
    if (h) {
        h(control);
    }
    return NO_ERROR;
}

DWORD WINAPI ignoreControl(DWORD, DWORD, LPVOID, LPVOID)
{
    return NO_ERROR;
}

void WINAPI serviceMainEntry(DWORD, LPSTR*)
{
    // The arguments the manager passes are not used: the registered command line has them all.
    int result = serviceProcedure();
    procedureResult.store(result);
    // A procedure that ended without reporting STOPPED (it failed before or while starting)
    // would leave the manager waiting for the start to time out; it hears the outcome now.
    if (!stoppedReported.load()) {
        if (!statusHandle) {
            statusHandle = ::RegisterServiceCtrlHandlerExA(dispatchedName.c_str(), ignoreControl, nullptr);
        }
        if (statusHandle) {
            SERVICE_STATUS status = {};
            status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
            status.dwCurrentState = SERVICE_STOPPED;
            status.dwWin32ExitCode = result != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
            status.dwServiceSpecificExitCode = static_cast<DWORD>(result);
            ::SetServiceStatus(statusHandle, &status);
        }
    }
}

// Console mode: Ctrl-C, Ctrl-Break and closing the console are the control STOP, delivered on
// the thread the system creates for the console event.
BOOL WINAPI consoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    ServiceDispatcher::ControlHandler h;
    {
        std::lock_guard<std::mutex> hold(consoleLock);
        h = handler.load();
        if (!h) {
            consoleStopPending = true;
        }
    }
    if (h) {
        h(ServiceStatus::CONTROL_STOP);
    }
    return TRUE;
}

class ConsoleRunnable : public KorrRunnable
{
public:
    long run() override
    {
        procedureResult.store(serviceProcedure());
        return 0;
    }
};

} // namespace

int ServiceDispatcher::start(const std::string& serviceName, bool console, ServiceProcedure procedure)
{
    dispatchedName = serviceName;
    serviceProcedure = procedure;
    consoleMode = console;
    if (console) {
        ::SetConsoleCtrlHandler(consoleControl, TRUE);
        ConsoleRunnable runnable;
        KorrThreadImpl thread(&runnable);
        thread.start();
        thread.join();
        ::SetConsoleCtrlHandler(consoleControl, FALSE);
        return procedureResult.load();
    }
    SERVICE_TABLE_ENTRYA table[2] = {};
    table[0].lpServiceName = const_cast<char*>(dispatchedName.c_str());
    table[0].lpServiceProc = serviceMainEntry;
    if (!::StartServiceCtrlDispatcherA(table)) {
        throw KorrException(KorrUtils::getLastErrorMessage());
    }
    return procedureResult.load();
}

bool ServiceDispatcher::registerControlHandler(const std::string& serviceName, ControlHandler h)
{
    if (consoleMode) {
        bool stop;
        {
            std::lock_guard<std::mutex> hold(consoleLock);
            handler.store(h);
            stop = consoleStopPending;
            consoleStopPending = false;
        }
        if (stop) {
            h(ServiceStatus::CONTROL_STOP);
        }
        return true;
    }
    // Stored first: the manager may send a control as soon as the registration returns.
    handler.store(h);
    SERVICE_STATUS_HANDLE registered = ::RegisterServiceCtrlHandlerExA(serviceName.c_str(), controlHandlerEx, nullptr);
    if (!registered) {
        return false;
    }
    statusHandle = registered;
    return true;
}

int ServiceDispatcher::setStatus(const ServiceStatus& s)
{
    if (consoleMode || !statusHandle) {
        return 0;
    }
    SERVICE_STATUS status = {};
    status.dwServiceType = s.serviceType;
    status.dwCurrentState = s.currentState;
    status.dwControlsAccepted = s.controlsAccepted;
    status.dwWin32ExitCode = s.win32ExitCode;
    status.dwServiceSpecificExitCode = s.serviceSpecificExitCode;
    status.dwCheckPoint = s.checkPoint;
    status.dwWaitHint = s.waitHint;
    if (!::SetServiceStatus(statusHandle, &status)) {
        int error = static_cast<int>(::GetLastError());
        return error != 0 ? error : ERROR_INVALID_HANDLE;
    }
    if (s.currentState == ServiceStatus::STOPPED) {
        stoppedReported.store(true);
    }
    return 0;
}
