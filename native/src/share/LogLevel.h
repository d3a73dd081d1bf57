// Severity of a log record or threshold of a logger or handler, from ALL (everything) to OFF
// (nothing); each level has a one-letter indicator and a fixed 7-character text form.
#ifndef OSTARA_LOGLEVEL_H
#define OSTARA_LOGLEVEL_H

#include <iosfwd>
#include <string>

class LogLevel
{
public:
    enum LogLevelValue {
        ALL = 0,
        FINEST = 10,
        FINER = 20,
        FINE = 30,
        CONFIG = 40,
        INFO = 50,
        WARNING = 60,
        SEVERE = 70,
        OFF = 9999
    };

    LogLevel() : value(OFF) {}
    LogLevel(LogLevelValue v) : value(v) {}   // implicit: callers pass enumerators
    explicit LogLevel(int v) : value(v) {}
    virtual ~LogLevel() {}

    bool operator==(const LogLevel& o) const { return value == o.value; }
    bool operator!=(const LogLevel& o) const { return value != o.value; }
    bool operator>=(const LogLevel& o) const { return value >= o.value; }
    int getValue() const { return value; }
    // 'A', 'F', 'C', 'I', 'W', 'E' (SEVERE), 'O' or '?'.
    char getIndicator() const;
    std::string toString() const;

private:
    int value;
};

std::ostream& operator<<(std::ostream& out, const LogLevel& level);

#endif
