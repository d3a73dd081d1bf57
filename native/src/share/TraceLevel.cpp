#include "TraceLevel.h"

#include <ostream>

std::string TraceLevel::toString() const
{
    switch (value) {
    case VERBOSE: return "VERBOSE ";
    case MODERATE: return "MODERATE";
    case FLOW: return "FLOW    ";
    case OFF: return "OFF     ";
    default: return "???     ";
    }
}

std::ostream& operator<<(std::ostream& out, const TraceLevel& level) { return out << level.toString(); }
