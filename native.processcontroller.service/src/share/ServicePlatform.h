// What the service host does differently on each platform: the variable through which the JVM
// finds the runtime library, preparing the process, where a failed start is told, the
// temporary directory and how standard streams are set up once they go to files.
#ifndef OSTARAPCSERVICE_SERVICEPLATFORM_H
#define OSTARAPCSERVICE_SERVICEPLATFORM_H

#include <cstddef>
#include <string>

class ServiceLog;

class ServicePlatform
{
public:
    // The variable through which the JVM finds the runtime library.
    static std::string libraryPathVariable();
    // Before the controller is created (Linux: makes this process a child subreaper).
    static void prepareProcess(ServiceLog* serviceLog);
    // Keeps a copy of standard error before the streams go to the log directory.
    static void keepStarterError();
    // One line on that copy; nothing when there was none.
    static void tellStarter(const std::string& line);
    // The paragraph of --help on how the service manager runs the program.
    static const char* usageNotes();
    // Where the streams go when the log directory cannot take them ($TMP, then the system's).
    static std::string temporaryDirectory();
    // After standard output and error were moved onto files: each line is written out at once
    // (and on Windows the process's standard handles follow).
    static void standardStreamsMoved();
    // At most the last `limit` bytes of what this process wrote to stderr.log in `logDirectory`;
    // empty when standard error is not such a file. Never follows a name another user could
    // have replaced (POSIX reads through the descriptor itself).
    static std::string standardErrorTail(const std::string& logDirectory, std::size_t limit);

private:
    ServicePlatform();
};

#endif
