// A method-exit trace record: the indentation prefix, the method and, when one was traced, the
// returned value in brackets followed by its type.
#ifndef OSTARA_TRACEEXITLOGRECORD_H
#define OSTARA_TRACEEXITLOGRECORD_H

#include "LogRecord.h"

class TraceExitLogRecord : public LogRecord
{
public:
    TraceExitLogRecord(const LogLevel& level, const std::string& prefix);
    std::string getMessage() const override;
};

#endif
