// Support for the reliability drills: the staged service program run as an operator runs it,
// in a process group of its own that is killed whatever the outcome; the installed ostaractl;
// and what /proc tells about a process (resident memory, open descriptors, liveness).
#ifndef OSTARA_DRILLS_DRILLSUPPORT_H
#define OSTARA_DRILLS_DRILLSUPPORT_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "VexilDaemon.h"

namespace drill {

// Polls `done` every few milliseconds until it holds or the deadline passes.
bool eventually(const std::function<bool()>& done, int ms = 15000);
std::string readFile(const std::string& path);
int occurrences(const std::string& text, const std::string& word);
// Seconds from OSTARA_DRILL_SECONDS when set (sanitizer builds shorten the soaks), else fallback.
int seconds(int fallback);
// Kilobytes from OSTARA_DRILL_RSS_SLACK_KB when set, else fallback.
long rssSlackKb(long fallback);

// VmRSS of a process in kilobytes, -1 when it is gone.
long residentKb(pid_t pid);
// Open descriptors of a process, -1 when it is gone.
int descriptors(pid_t pid);
// True while the process exists and is not a zombie.
bool alive(pid_t pid);

// A program started in a process group of its own with its output in a file; the group is
// killed and the program reaped when the object goes, so no drill leaves a process behind.
class Program
{
public:
    Program(const std::vector<std::string>& argv, const std::string& outputFile);
    ~Program();
    pid_t pid() const { return child; }
    void signal(int number);
    // Exit status, 128 + N after signal N, -1 while it has not ended by the deadline.
    int wait(int ms);
    bool running();
    void killGroup();

private:
    Program(const Program&);
    Program& operator=(const Program&);
    pid_t child;
    int status;
};

// A tool run to its end (or killed at the deadline): exit status, -1 when it hung, 128+N on
// signal N; its standard output and error together.
struct ToolResult {
    int status;
    std::string output;
};
std::vector<ToolResult> runAll(const std::vector<std::vector<std::string>>& commands, int deadlineMs);
ToolResult runTool(const std::vector<std::string>& argv, int deadlineMs = 30000);

// One drill's world: its own working, service-log, IPC and queue-manager directories, the
// properties file, and the service program supervising the sample agent.
class Site
{
public:
    Site();
    ~Site();
    std::string work() const { return root.file("work"); }
    std::string serviceDir() const { return root.file("service"); }
    std::string propertiesPath() const { return root.file("agent.properties"); }
    void properties(const std::string& text) const;
    // ostarapcservice NAME DIR Info <controller options> java <agentArgs>.
    std::vector<std::string> serviceArgs(const std::vector<std::string>& agentArgs,
                                         const std::string& productRoot = OSTARA_PRODUCT_ROOT) const;
    Program* startService(const std::vector<std::string>& agentArgs, const std::string& productRoot = OSTARA_PRODUCT_ROOT);
    ToolResult ostaractl(const std::vector<std::string>& args, int deadlineMs = 30000) const;
    // Every event-log file of the working directory's log directory.
    std::string eventLog() const;
    int events(const std::string& key) const { return occurrences(eventLog(), key); }
    std::string serviceStderr() const { return readFile(serviceDir() + "/logs/stderr.log"); }
    std::string serviceStdout() const { return readFile(serviceDir() + "/logs/stdout.log"); }
    // Starts of the sample agent, and the process id of the nth (from 1), as it logged them.
    int agentRuns() const;
    pid_t agentPid(int n) const;
    void agentControl(const std::string& text) const;

    TempDir root;
    TempDir ipc;
    TempDir sim;
    VexilDaemon daemon;
    std::string name;
};

} // namespace drill

#endif
