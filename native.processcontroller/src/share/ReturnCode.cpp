#include "ReturnCode.h"

#include <ostream>

std::string ReturnCode::toString() const
{
    switch (value) {
    case RC_SUCCESS: return "RC_SUCCESS  ";
    case RC_FAILURE: return "RC_FAILURE  ";
    case RC_EXIT: return "RC_EXIT     ";
    case RC_ABEND: return "RC_ABEND    ";
    case RC_QMUNAVAIL: return "RC_QMUNAVAIL";
    case RC_CONFIG: return "RC_CONFIG   ";
    default: return "???         ";
    }
}

std::ostream& operator<<(std::ostream& out, const ReturnCode& code) { return out << code.toString(); }
