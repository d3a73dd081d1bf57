#include "Grandchild.h"

#include <spawn.h>
#include <sys/types.h>

extern char** environ;

long startGrandchild()
{
    pid_t child = 0;
    char sleepProgram[] = "sleep";
    char forever[] = "3600";
    char* sleepArgs[] = {sleepProgram, forever, nullptr};
    return posix_spawnp(&child, "sleep", nullptr, nullptr, sleepArgs, environ) == 0 ? static_cast<long>(child) : -1;
}
