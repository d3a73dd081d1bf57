#include "ProcessControllerState.h"

#include <ostream>

namespace {

const char* const NAMES[] = {"WAITING   ", "STARTED   ", "STOPPED   ", "RECOVERING", "ISTOPPING ", "CSTOPPING "};

// allowed[from - 1][to - 1]
const bool ALLOWED[6][6] = {
    //            WAITING STARTED STOPPED RECOVERING ISTOPPING CSTOPPING
    /* WAITING    */ {true, true, false, false, true, true},
    /* STARTED    */ {true, true, true, true, true, true},
    /* STOPPED    */ {true, false, true, false, false, false},
    /* RECOVERING */ {true, false, false, true, true, true},
    /* ISTOPPING  */ {false, false, true, false, true, true},
    /* CSTOPPING  */ {false, false, true, false, true, true},
};

bool known(int v) { return v >= 1 && v <= 6; }

} // namespace

bool ProcessControllerState::isRunning() const
{
    return value == WAITING || value == STARTED || value == RECOVERING;
}

bool ProcessControllerState::isValidTransition(const ProcessControllerState& target) const
{
    return known(value) && known(target.value) && ALLOWED[value - 1][target.value - 1];
}

const char* ProcessControllerState::toString() const { return known(value) ? NAMES[value - 1] : "???       "; }

std::ostream& operator<<(std::ostream& out, const ProcessControllerState& state) { return out << state.toString(); }
