// Level of a trace point (VERBOSE, MODERATE, FLOW) or OFF; each maps to a log level.
#ifndef OSTARA_TRACELEVEL_H
#define OSTARA_TRACELEVEL_H

#include <iosfwd>
#include <string>

class TraceLevel
{
public:
    enum TraceLevelValue { VERBOSE = 11, MODERATE = 21, FLOW = 31, OFF = 9999 };

    TraceLevel() : value(OFF) {}
    TraceLevel(TraceLevelValue v) : value(v) {}   // implicit: Trace calls pass enumerators
    explicit TraceLevel(int v) : value(v) {}
    virtual ~TraceLevel() {}

    bool operator==(const TraceLevel& o) const { return value == o.value; }
    bool operator!=(const TraceLevel& o) const { return value != o.value; }
    bool operator>=(const TraceLevel& o) const { return value >= o.value; }
    int getValue() const { return value; }
    // The 8-character text form: "VERBOSE ", "MODERATE", "FLOW    ", "OFF     " or "???     ".
    std::string toString() const;

private:
    int value;
};

std::ostream& operator<<(std::ostream& out, const TraceLevel& level);

#endif
