// What the service host does differently on Linux: the loader's search path is
// LD_LIBRARY_PATH, the process collects orphaned descendants of the agent, and a failed start
// is told on the standard error (a terminal or the journal) that the program was started with.
#ifndef OSTARAPCSERVICE_SERVICEPLATFORM_H
#define OSTARAPCSERVICE_SERVICEPLATFORM_H

#include <string>

class ServiceLog;

class ServicePlatform
{
public:
    // The variable through which the JVM finds the runtime library.
    static std::string libraryPathVariable();
    // Before the controller is created: makes this process a child subreaper.
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
