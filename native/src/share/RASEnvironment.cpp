#include "RASEnvironment.h"

#include <ostream>

std::string RASEnvironment::toString() const
{
    switch (value) {
    case DAEMON: return "DAEMON           ";
    case DAEMON_FOREGROUND: return "DAEMON_FOREGROUND";
    case UNITTEST: return "UNITTEST         ";
    case JAVA_APP: return "JAVA_APP         ";
    case UNSPECIFIED: return "UNSPECIFIED      ";
    default: return "???              ";
    }
}

std::ostream& operator<<(std::ostream& out, const RASEnvironment& environment)
{
    return out << environment.toString();
}
