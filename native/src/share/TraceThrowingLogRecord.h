// A trace record for an exception about to leave a method: the indentation prefix, the method,
// the exception's text and its run-time class.
#ifndef OSTARA_TRACETHROWINGLOGRECORD_H
#define OSTARA_TRACETHROWINGLOGRECORD_H

#include "LogRecord.h"

class TraceThrowingLogRecord : public LogRecord
{
public:
    TraceThrowingLogRecord(const LogLevel& level, const std::string& prefix);
    std::string getMessage() const override;
};

#endif
