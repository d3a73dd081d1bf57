#include "TarnConnectionState.h"

#include <ostream>

const char* TarnConnectionState::toString() const
{
    switch (value) {
    case UNKNOWN: return "UNKNOWN    ";
    case AVAILABLE: return "AVAILABLE  ";
    case UNAVAILABLE: return "UNAVAILABLE";
    case AVAILABLE_AUTHORISATION_REQUIRED: return "AVAILABLE (Authorisation Required)";
    default: return "???        ";
    }
}

std::ostream& operator<<(std::ostream& out, const TarnConnectionState& state) { return out << state.toString(); }
