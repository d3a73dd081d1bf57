// The service control dispatcher on Windows: StartServiceCtrlDispatcherA with a table of one
// service, whose procedure runs on the manager's service thread; the control handler
// (RegisterServiceCtrlHandlerA) and SetServiceStatus. In console mode there is no manager: the
// procedure runs on a thread of its own, Ctrl-C, Ctrl-Break and closing the console become
// the control STOP, and status reports go nowhere. A procedure that returns without having
// reported STOPPED has its result reported as STOPPED for it, so the manager never waits in vain.
#ifndef OSTARAPCSERVICE_SERVICEDISPATCHER_H
#define OSTARAPCSERVICE_SERVICEDISPATCHER_H

#include <string>

class ServiceStatus;

class ServiceDispatcher
{
public:
    typedef int (*ServiceProcedure)();
    typedef void (*ControlHandler)(unsigned int control);

    // Returns the procedure's result once the dispatcher has returned. Throws KorrException
    // when the dispatcher cannot be started (outside the manager: error 1063). One per process.
    static int start(const std::string& serviceName, bool console, ServiceProcedure procedure);
    // Called by the service procedure. False (GetLastError set) when it cannot be registered.
    static bool registerControlHandler(const std::string& serviceName, ControlHandler handler);
    // Sends the status to the manager; 0, or the error code of the failure.
    static int setStatus(const ServiceStatus& status);

private:
    ServiceDispatcher();
};

#endif
