// The kind of process the diagnostics run in: a background or foreground daemon, a unit
// test (which may re-initialise), the Java application, or not yet known.
#ifndef OSTARA_RASENVIRONMENT_H
#define OSTARA_RASENVIRONMENT_H

#include <iosfwd>
#include <string>

class RASEnvironment
{
public:
    enum RASEnvironmentValue { DAEMON = 1, DAEMON_FOREGROUND = 2, UNITTEST = 4, JAVA_APP = 5, UNSPECIFIED = 9999 };

    RASEnvironment() : value(UNSPECIFIED) {}
    RASEnvironment(RASEnvironmentValue v) : value(v) {}   // implicit: callers pass enumerators
    explicit RASEnvironment(int v) : value(v) {}
    virtual ~RASEnvironment() {}

    bool operator==(const RASEnvironment& o) const { return value == o.value; }
    bool operator!=(const RASEnvironment& o) const { return value != o.value; }
    int getValue() const { return value; }
    // The 17-character text form, "???              " for an unknown value.
    std::string toString() const;

private:
    int value;
};

std::ostream& operator<<(std::ostream& out, const RASEnvironment& environment);

#endif
