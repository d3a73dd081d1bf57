// Whether a process id still names a running process, for tests that check a child is gone.
#ifndef OSTARA_TEST_PROCESSPROBE_H
#define OSTARA_TEST_PROCESSPROBE_H

#include <windows.h>

#include <cstdlib>
#include <string>

inline bool processAlive(const std::string& pid)
{
    if (pid.empty()) {
        return false;
    }
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::atol(pid.c_str())));
    if (!h) {
        return false;
    }
    bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running;
}

#endif
