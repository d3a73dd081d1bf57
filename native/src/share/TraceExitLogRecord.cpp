#include "TraceExitLogRecord.h"

TraceExitLogRecord::TraceExitLogRecord(const LogLevel& level, const std::string& prefix)
    : LogRecord(level, LogRecordType::EXIT, prefix)
{
}

std::string TraceExitLogRecord::getMessage() const
{
    std::string text = LogRecord::getMessage() + " " + getSourceMethodName();
    if (getNumArguments() > 0) {
        text += " returns [" + getArgument(0) + "] " + getMethodReturnType();
    }
    return text;
}
