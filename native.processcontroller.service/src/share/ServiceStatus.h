// The status record a service reports to its service manager, with the state, control and
// acceptance codes of that record (the Windows values; systemd gets them translated).
#ifndef OSTARAPCSERVICE_SERVICESTATUS_H
#define OSTARAPCSERVICE_SERVICESTATUS_H

#include <string>

class ServiceStatus
{
public:
    static const unsigned int OWN_PROCESS = 16;

    // Current states.
    static const unsigned int STOPPED = 1;
    static const unsigned int START_PENDING = 2;
    static const unsigned int STOP_PENDING = 3;
    static const unsigned int RUNNING = 4;

    // Accepted controls, combined by or.
    static const unsigned int ACCEPT_STOP = 1;
    static const unsigned int ACCEPT_PAUSE_CONTINUE = 2;
    static const unsigned int ACCEPT_SHUTDOWN = 4;

    // Controls a handler receives. On systemd SIGTERM and SIGINT are STOP, SIGHUP is INTERROGATE.
    // Anything else a manager sends (user controls 128-255) is logged as unexpected.
    static const unsigned int CONTROL_STOP = 1;
    static const unsigned int CONTROL_INTERROGATE = 4;
    static const unsigned int CONTROL_SHUTDOWN = 5;

    // The exit code that says serviceSpecificExitCode holds the reason.
    static const unsigned int SERVICE_SPECIFIC_ERROR = 1066;

    ServiceStatus();

    // "Starting", "Running", "Stopping", "Stopped", or "State N" for anything else.
    static std::string stateText(unsigned int state);

    // Takes a report's fields. Once STOP_PENDING or a STOPPED after it has been recorded, a
    // START_PENDING or RUNNING is refused (false, nothing changes): the service thread's own
    // progress must never hide a stop that the control handler has reported.
    bool record(unsigned int state, unsigned int controlsAccepted, unsigned int win32ExitCode,
                unsigned int serviceSpecificExitCode, unsigned int checkPoint, unsigned int waitHint);

    unsigned int serviceType;
    unsigned int currentState;
    unsigned int controlsAccepted;
    unsigned int win32ExitCode;
    unsigned int serviceSpecificExitCode;
    unsigned int checkPoint;
    unsigned int waitHint;   // milliseconds
    std::string detail;      // what the controller last said it does; empty before
    bool stopRecorded;       // a stop (STOP_PENDING) has been recorded
};

#endif
