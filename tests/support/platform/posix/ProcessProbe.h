// Whether a process id still names a running process, for tests that check a child is gone.
#ifndef OSTARA_TEST_PROCESSPROBE_H
#define OSTARA_TEST_PROCESSPROBE_H

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/types.h>

inline bool processAlive(const std::string& pid)
{
    if (pid.empty()) {
        return false;
    }
    return ::kill(static_cast<pid_t>(std::atol(pid.c_str())), 0) == 0 || errno == EPERM;
}

#endif
