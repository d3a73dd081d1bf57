#include "ExecutablePath.h"

#include <windows.h>

std::string executablePath()
{
    char self[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    return n > 0 && n < sizeof self ? std::string(self, n) : std::string();
}
