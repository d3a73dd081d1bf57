// What the service host does differently on Windows: the JVM finds the runtime library
// through PATH, and a failed start is told on the standard error the program was started with
// (a console in -console mode; a service has none, and then nothing is told).
#ifndef OSTARAPCSERVICE_SERVICEPLATFORM_H
#define OSTARAPCSERVICE_SERVICEPLATFORM_H

#include <string>

class ServiceLog;

class ServicePlatform
{
public:
    // The variable through which the JVM finds the runtime library.
    static std::string libraryPathVariable();
    // Before the controller is created; nothing is needed here.
    static void prepareProcess(ServiceLog* serviceLog);
    // Keeps a copy of standard error before the streams go to the log directory.
    static void keepStarterError();
    // One line on that copy; nothing when there was none.
    static void tellStarter(const std::string& line);
    // The paragraph of --help on how the service manager runs the program.
    static const char* usageNotes();

private:
    ServicePlatform();
};

#endif
