#include "TraceDataLogRecord.h"

TraceDataLogRecord::TraceDataLogRecord(const LogLevel& level, const std::string& prefix)
    : LogRecord(level, LogRecordType::DATA, prefix)
{
}

std::string TraceDataLogRecord::getMessage() const
{
    std::string text = LogRecord::getMessage() + " " + getSourceMethodName() + " data ";
    for (unsigned int i = 0; i < getNumArguments(); ++i) {
        text += (i ? " [" : "[") + getArgument(i) + "]";
    }
    return text;
}
