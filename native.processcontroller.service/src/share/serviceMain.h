// The service host on every platform: the program's entry, the service thread that runs one
// process controller, the control handler and the status reports; ServiceDispatcher and
// ServicePlatform carry what the platform's service manager does differently. The command line
// is: service name, log directory, log level, then the controller's options and program (after
// "-console" to run it without the service manager); or "-install"/"-uninstall" and options.
// Unlike the status record alone, the process exit status carries the outcome: it is the
// controller's exit status (1 for a failure of the host itself), so a service whose
// application failed for good does not look as if it stopped cleanly.
#ifndef OSTARAPCSERVICE_SERVICEMAIN_H
#define OSTARAPCSERVICE_SERVICEMAIN_H

#include <string>

// What main does; returns the process exit status.
int serviceEntry(int argc, char** argv);
// The service thread's procedure; returns the process exit status.
int serviceMain();
// Called on the dispatcher thread for each control (ServiceStatus::CONTROL_*).
void serviceControlHandler(unsigned int control);
// Records the status and sends it to the service manager; a failure goes to the service log.
void reportServiceStatus(unsigned int state, unsigned int controlsAccepted, unsigned int win32ExitCode,
                         unsigned int serviceSpecificExitCode, unsigned int checkPoint, unsigned int waitHint);
// The event text for a controller exit status: the catalogue message for the known codes,
// with the service name as insert; empty for any other status.
std::string exitStatusMessage(int exitStatus, const std::string& serviceName);
// True for a level the service log level may name (any case); the list of them, for messages.
bool isLogLevel(const std::string& level);
std::string logLevelList();

#endif
