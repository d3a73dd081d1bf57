// A method-entry trace record: the indentation prefix, the method and its arguments in brackets.
#ifndef OSTARA_TRACEENTRYLOGRECORD_H
#define OSTARA_TRACEENTRYLOGRECORD_H

#include "LogRecord.h"

class TraceEntryLogRecord : public LogRecord
{
public:
    TraceEntryLogRecord(const LogLevel& level, const std::string& prefix);
    std::string getMessage() const override;
};

#endif
