#include "ExecutablePath.h"

#include <climits>
#include <unistd.h>

std::string executablePath()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
}
