// Support for the service program's tests: a program run with its own environment and
// captured output, a datagram socket that plays systemd's notification socket, and a run
// under a private /dev/log (a mount namespace) that records what the program sent to syslog.
#ifndef OSTARAPCSERVICE_TEST_SERVICETESTSUPPORT_H
#define OSTARAPCSERVICE_TEST_SERVICETESTSUPPORT_H

#include <sys/types.h>

#include <string>
#include <vector>

// A program started with posix_spawn; standard output and error go to one captured pipe.
class ProgramRun
{
public:
    // env entries ("NAME=value") are added to, or replace those of, this process's environment;
    // "NAME=" with nothing after the "=" removes NAME.
    ProgramRun(const std::vector<std::string>& argv, const std::vector<std::string>& env);
    ~ProgramRun();

    pid_t pid() const { return child; }
    void signal(int number);
    // The exit status (0-255), 128 + N after signal N, or -1 when it had not ended by the
    // deadline (it is killed then).
    int wait(int timeoutMs);
    // Standard output and error as captured so far (all of it after wait()).
    const std::string& output();

private:
    ProgramRun(const ProgramRun&);
    ProgramRun& operator=(const ProgramRun&);
    void drain(int timeoutMs);

    pid_t child;
    int out;
    bool reaped;
    std::string captured;
};

// A datagram socket bound at path; receives what a notifier sends.
class NotifySocket
{
public:
    explicit NotifySocket(const std::string& path);
    ~NotifySocket();
    const std::string& path() const { return socketPath; }
    // The next datagram, or "" when none came before the deadline.
    std::string receive(int timeoutMs);
    // Receives until a datagram contains text; every datagram received is kept in received.
    bool waitFor(const std::string& text, int timeoutMs);

    std::vector<std::string> received;

private:
    std::string socketPath;
    int fd;
};

// The argv of the test binary in the role that runs argv with a datagram socket as /dev/log (in a mount
// namespace of its own) and writes each received syslog message, one per line, to logFile.
// Its exit status is the program's; SYSLOG_ROLE_UNAVAILABLE when the namespace cannot be made
// (not root, no mount rights).
// Run it with PRIVATE_DEVLOG_ROLE in its environment.
std::vector<std::string> underPrivateDevLog(const std::string& logFile, const std::vector<std::string>& argv);
const char* const PRIVATE_DEVLOG_ROLE = "OSTARA_TEST_CHILD=private_devlog";
const int SYSLOG_ROLE_UNAVAILABLE = 77;

// Path of the staged service program.
std::string serviceProgram();
// Lines of a file; empty when it cannot be read.
std::vector<std::string> readLines(const std::string& path);
std::string readFile(const std::string& path);
// Index of the first line at or after from that contains text; -1 if none.
int findLine(const std::vector<std::string>& lines, const std::string& text, int from = 0);

#endif
