#include "LogLevel.h"

#include <ostream>

char LogLevel::getIndicator() const
{
    switch (value) {
    case ALL: return 'A';
    case FINEST:
    case FINER:
    case FINE: return 'F';
    case CONFIG: return 'C';
    case INFO: return 'I';
    case WARNING: return 'W';
    case SEVERE: return 'E';
    case OFF: return 'O';
    default: return '?';
    }
}

std::string LogLevel::toString() const
{
    switch (value) {
    case ALL: return "ALL    ";
    case FINEST: return "FINEST ";
    case FINER: return "FINER  ";
    case FINE: return "FINE   ";
    case CONFIG: return "CONFIG ";
    case INFO: return "INFO   ";
    case WARNING: return "WARNING";
    case SEVERE: return "SEVERE ";
    case OFF: return "OFF    ";
    default: return "???    ";
    }
}

std::ostream& operator<<(std::ostream& out, const LogLevel& level) { return out << level.toString(); }
