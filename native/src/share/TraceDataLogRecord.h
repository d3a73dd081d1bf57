// A data-point trace record: the indentation prefix, the method, "data" and the values in brackets.
#ifndef OSTARA_TRACEDATALOGRECORD_H
#define OSTARA_TRACEDATALOGRECORD_H

#include "LogRecord.h"

class TraceDataLogRecord : public LogRecord
{
public:
    TraceDataLogRecord(const LogLevel& level, const std::string& prefix);
    std::string getMessage() const override;
};

#endif
