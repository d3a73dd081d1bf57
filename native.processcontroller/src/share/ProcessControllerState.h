// The state of the supervision state machine and the transitions it allows.
#ifndef OSTARAPC_PROCESSCONTROLLERSTATE_H
#define OSTARAPC_PROCESSCONTROLLERSTATE_H

#include <iosfwd>

class ProcessControllerState
{
public:
    enum ProcessControllerStateValue { WAITING = 1, STARTED = 2, STOPPED = 3, RECOVERING = 4, ISTOPPING = 5, CSTOPPING = 6 };

    ProcessControllerState() : value(STOPPED) {}
    ProcessControllerState(ProcessControllerStateValue v) : value(v) {}
    explicit ProcessControllerState(int v) : value(v) {}
    virtual ~ProcessControllerState() {}

    bool operator==(const ProcessControllerState& o) const { return value == o.value; }
    bool operator!=(const ProcessControllerState& o) const { return value != o.value; }
    bool operator>=(const ProcessControllerState& o) const { return value >= o.value; }

    int toInt() const { return value; }
    // True while a child is, or is about to be, supervised: WAITING, STARTED, RECOVERING.
    bool isRunning() const;
    bool isValidTransition(const ProcessControllerState& target) const;
    // The 10-character text form, "???       " for unknown values.
    const char* toString() const;

private:
    int value;
};

std::ostream& operator<<(std::ostream& out, const ProcessControllerState& state);

#endif
