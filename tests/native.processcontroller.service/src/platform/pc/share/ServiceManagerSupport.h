// Support for driving the staged service program under the service control manager: programs
// run with a deadline and captured output, paths as a service (working in C:\windows) needs
// them, and the event-log entries services wrote.
#ifndef OSTARAPCSERVICE_TEST_SERVICEMANAGERSUPPORT_H
#define OSTARAPCSERVICE_TEST_SERVICEMANAGERSUPPORT_H

#include <string>
#include <vector>

struct ProgramResult
{
    int exitCode;       // the process's exit code; -1 when it had not ended by the deadline
    std::string output; // standard output and error together, carriage returns removed
};

// Runs argv (quoted as the C runtime splits it again), killing it at the deadline.
ProgramResult runProgram(const std::vector<std::string>& argv, int timeoutMs);

// A path a service can use: drive-absolute with backslashes (a "/x" path means Z:\x).
std::string windowsPath(const std::string& path);

std::vector<std::string> readLines(const std::string& path);
// Index of the first line at or after from that contains text; -1 if none.
int findLine(const std::vector<std::string>& lines, const std::string& text, int from = 0);

#endif
