// The test binary started again in a child role (OSTARA_TEST_CHILD), with its standard output
// captured. Every wait has a deadline; a child still running at destruction is killed.
#ifndef OSTARA_TEST_SPAWNEDCHILD_H
#define OSTARA_TEST_SPAWNEDCHILD_H

#include <sys/types.h>

#include <string>
#include <vector>

class SpawnedChild
{
public:
    SpawnedChild(const std::string& role, const std::vector<std::string>& args);
    ~SpawnedChild();

    pid_t pid() const { return child; }
    // Reads standard output until it contains text; false when the deadline passed first.
    bool waitForOutput(const std::string& text, int timeoutMs);
    // The waitpid status; -1 when the child had not ended by the deadline (it is killed then).
    int wait(int timeoutMs);
    const std::string& output() const { return captured; }

private:
    SpawnedChild(const SpawnedChild&);
    SpawnedChild& operator=(const SpawnedChild&);
    bool readSome(int timeoutMs);

    pid_t child;
    int out;
    bool reaped;
    std::string captured;
};

#endif
