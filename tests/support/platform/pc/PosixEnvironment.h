// The few POSIX calls the portable tests make, on the Windows C runtime; the Windows build
// includes this in every test source.
#ifndef OSTARA_TEST_POSIXENVIRONMENT_H
#define OSTARA_TEST_POSIXENVIRONMENT_H

#include <cstdlib>
#include <process.h>

inline int setenv(const char* name, const char* value, int overwrite)
{
    if (!overwrite && std::getenv(name)) {
        return 0;
    }
    return _putenv_s(name, value);
}

inline int unsetenv(const char* name) { return _putenv_s(name, ""); }

// Windows has no sessions: no process leads one.
inline int getsid(int) { return -1; }

#endif
