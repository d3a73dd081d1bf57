// The service control dispatcher on systemd. start() blocks SIGTERM, SIGINT and SIGHUP in the
// calling thread before any other thread exists, so every thread of the process inherits the
// block and no signal handler (the controller's included) ever sees them. It runs the service
// procedure on a thread of its own and takes those signals with sigwait on the calling thread:
// SIGTERM and SIGINT become the control STOP, SIGHUP becomes INTERROGATE. A stop that comes
// before the procedure has registered its handler is kept and delivered on registration.
// Status reports become sd_notify messages when systemd gave a NOTIFY_SOCKET.
#ifndef OSTARAPCSERVICE_SERVICEDISPATCHER_H
#define OSTARAPCSERVICE_SERVICEDISPATCHER_H

#include <string>

class ServiceStatus;

class ServiceDispatcher
{
public:
    typedef int (*ServiceProcedure)();
    typedef void (*ControlHandler)(unsigned int control);

    // Returns the procedure's result once it has returned. Throws KorrException when the
    // service thread cannot be started. One dispatcher per process. The program always runs in
    // the foreground here, so console changes nothing.
    static int start(const std::string& serviceName, bool console, ServiceProcedure procedure);
    // Called by the service procedure. False (errno ESRCH) when no dispatcher is running.
    static bool registerControlHandler(const std::string& serviceName, ControlHandler handler);
    // Sends the status to systemd (nothing without NOTIFY_SOCKET); 0, or the errno of the failure.
    static int setStatus(const ServiceStatus& status);

private:
    ServiceDispatcher();
};

#endif
