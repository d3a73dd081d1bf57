#include "LogRecordType.h"

#include <ostream>

std::string LogRecordType::toString() const
{
    switch (value) {
    case ENTRY: return "ENTRY   ";
    case EXIT: return "EXIT    ";
    case DATA: return "DATA    ";
    case THROWING: return "THROWING";
    case EVENT: return "EVENT   ";
    default: return "???     ";
    }
}

std::ostream& operator<<(std::ostream& out, const LogRecordType& type) { return out << type.toString(); }
