#include "IPCListener.h"

#include <cstdint>
#include <cstdio>
#include <ostream>

std::ostream& operator<<(std::ostream& out, const IPCListener& listener)
{
    char address[32];
    std::snprintf(address, sizeof address, "%0llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&listener)));
    return out << "IPCListener &" << address;
}
