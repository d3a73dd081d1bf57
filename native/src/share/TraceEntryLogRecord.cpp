#include "TraceEntryLogRecord.h"

TraceEntryLogRecord::TraceEntryLogRecord(const LogLevel& level, const std::string& prefix)
    : LogRecord(level, LogRecordType::ENTRY, prefix)
{
}

std::string TraceEntryLogRecord::getMessage() const
{
    std::string text = LogRecord::getMessage() + " " + getSourceMethodName() + " ";
    for (unsigned int i = 0; i < getNumArguments(); ++i) {
        text += (i ? " [" : "[") + getArgument(i) + "]";
    }
    return text;
}
