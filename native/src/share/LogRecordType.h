// Kind of a log record: one of the four trace kinds (ENTRY, EXIT, DATA, THROWING) or an
// operator-facing EVENT; only trace kinds go to the trace file.
#ifndef OSTARA_LOGRECORDTYPE_H
#define OSTARA_LOGRECORDTYPE_H

#include <iosfwd>
#include <string>

class LogRecordType
{
public:
    enum LogRecordTypeValue { ENTRY = 1, EXIT = 2, DATA = 3, THROWING = 4, EVENT = 5 };

    LogRecordType() : value(ENTRY) {}
    LogRecordType(LogRecordTypeValue v) : value(v) {}   // implicit: callers pass enumerators
    explicit LogRecordType(int v) : value(v) {}
    virtual ~LogRecordType() {}

    bool operator==(const LogRecordType& o) const { return value == o.value; }
    bool operator!=(const LogRecordType& o) const { return value != o.value; }
    int getValue() const { return value; }
    bool isTraceable() const { return value != EVENT; }
    // The 8-character text form, "???     " for an unknown value.
    std::string toString() const;

private:
    int value;
};

std::ostream& operator<<(std::ostream& out, const LogRecordType& type);

#endif
