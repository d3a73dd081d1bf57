// The service control dispatcher: runs the service procedure for the platform's service manager
// (Windows: the control dispatcher and SetServiceStatus; Linux: signals and sd_notify, see the
// platform folder's ServiceDispatcher.cpp for how controls arrive there).
#ifndef OSTARAPCSERVICE_SERVICEDISPATCHER_H
#define OSTARAPCSERVICE_SERVICEDISPATCHER_H

#include <string>

class ServiceStatus;

class ServiceDispatcher
{
public:
    typedef int (*ServiceProcedure)();
    typedef void (*ControlHandler)(unsigned int control);

    // Returns the procedure's result once it (and, under a manager, the dispatcher) has
    // returned. Throws KorrException when the dispatcher or the service thread cannot be
    // started. One dispatcher per process. console: run without a manager (Windows; Linux
    // always runs in the foreground).
    static int start(const std::string& serviceName, bool console, ServiceProcedure procedure);
    // Called by the service procedure. False (the system's last error set) when the handler
    // cannot be registered.
    static bool registerControlHandler(const std::string& serviceName, ControlHandler handler);
    // Sends the status to the manager (nothing when there is none); 0, or the system's error
    // code of the failure.
    static int setStatus(const ServiceStatus& status);

private:
    ServiceDispatcher();
};

#endif
