// Support for the service program's tests: a program run with its own environment and
// captured output, a datagram socket playing systemd's notification socket, and a run under a
// private /dev/log (a mount namespace) that records what the program sent to syslog.
#ifndef OSTARAPCSERVICE_TEST_SERVICETESTSUPPORT_H
#define OSTARAPCSERVICE_TEST_SERVICETESTSUPPORT_H

#include <sys/types.h>

#include <string>
#include <vector>

class ProgramRun
{
public:
    // env entries "NAME=value" are added to this process's environment (replacing NAME).
    ProgramRun(const std::vector<std::string>& argv, const std::vector<std::string>& env);
    ~ProgramRun();
    void signal(int number);
    // The exit status, 128 + N after signal N, -1 when it had not ended by the deadline.
    int wait(int timeoutMs);
    // Standard output and error, as captured by wait().
    const std::string& output() const { return captured; }

private:
    ProgramRun(const ProgramRun&);
    ProgramRun& operator=(const ProgramRun&);
    void drain(int timeoutMs);

    pid_t child;
    int out;
    bool reaped;
    std::string captured;
};

class NotifySocket
{
public:
    explicit NotifySocket(const std::string& path);
    ~NotifySocket();
    const std::string& path() const { return socketPath; }
    // The next datagram; "" when none came before the deadline. Each is kept in received.
    std::string receive(int timeoutMs);
    std::vector<std::string> received;

private:
    std::string socketPath;
    int fd;
};

// Runs argv with a socket as /dev/log in a mount namespace of its own; syslog gets one entry
// per message received. Returns the program's exit status, or SYSLOG_UNAVAILABLE when no
// namespace can be made (not root).
int runWithSyslog(const std::vector<std::string>& argv, const std::string& workDir, std::vector<std::string>& syslog);
const int SYSLOG_UNAVAILABLE = 77;

std::string serviceProgram();
std::vector<std::string> readLines(const std::string& path);
// Index of the first line at or after from that contains text; -1 if none.
int findLine(const std::vector<std::string>& lines, const std::string& text, int from = 0);

#endif
