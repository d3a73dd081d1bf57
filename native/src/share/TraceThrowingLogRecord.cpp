#include "TraceThrowingLogRecord.h"

#include <sstream>

#include "KorrException.h"

TraceThrowingLogRecord::TraceThrowingLogRecord(const LogLevel& level, const std::string& prefix)
    : LogRecord(level, LogRecordType::THROWING, prefix)
{
}

// The exception's class reads as Windows type information spells it ("class KorrIOException")
// on every compiler; it is the segment of toString() before the message.
std::string TraceThrowingLogRecord::getMessage() const
{
    std::ostringstream text;
    text << LogRecord::getMessage() << " " << getSourceMethodName() << ", ";
    const KorrException* thrown = getThrown();
    if (thrown) {
        std::string full = thrown->toString();
        text << full << "[" << full.substr(0, full.find(": ")) << "]";
    } else {
        text << "Unknown Throwable[Throwable]";
    }
    return text.str();
}
