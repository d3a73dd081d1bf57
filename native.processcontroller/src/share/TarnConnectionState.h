// Outcome of the last attempt to reach the queue manager, as the status report shows it.
#ifndef OSTARAPC_TARNCONNECTIONSTATE_H
#define OSTARAPC_TARNCONNECTIONSTATE_H

#include <iosfwd>

class TarnConnectionState
{
public:
    enum { UNKNOWN = 1, AVAILABLE = 2, UNAVAILABLE = 3, AVAILABLE_AUTHORISATION_REQUIRED = 4 };

    TarnConnectionState() : value(UNKNOWN) {}
    explicit TarnConnectionState(int v) : value(v) {}
    virtual ~TarnConnectionState() {}

    bool operator==(const TarnConnectionState& o) const { return value == o.value; }
    bool operator!=(const TarnConnectionState& o) const { return value != o.value; }
    int toInt() const { return value; }
    const char* toString() const;

private:
    int value;
};

std::ostream& operator<<(std::ostream& out, const TarnConnectionState& state);

#endif
