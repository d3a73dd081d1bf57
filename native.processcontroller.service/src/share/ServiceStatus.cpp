#include "ServiceStatus.h"

ServiceStatus::ServiceStatus()
    : serviceType(OWN_PROCESS), currentState(STOPPED), controlsAccepted(0), win32ExitCode(0),
      serviceSpecificExitCode(0), checkPoint(0), waitHint(0),
      stopRecorded(false)
{
}

std::string ServiceStatus::stateText(unsigned int state)
{
    switch (state) {
    case STOPPED:
        return "Stopped";
    case START_PENDING:
        return "Starting";
    case STOP_PENDING:
        return "Stopping";
    case RUNNING:
        return "Running";
    default:
        return "State " + std::to_string(state);
    }
}

bool ServiceStatus::record(unsigned int state, unsigned int accepted, unsigned int exitCode, unsigned int specificCode,
                           unsigned int point, unsigned int hint)
{
    if (stopRecorded && (state == START_PENDING || state == RUNNING)) {
        return false;
    }
    if (state == STOP_PENDING) {
        if (currentState != state) {
            detail.clear();   // "Stopping" until the controller says how it goes
        }
        stopRecorded = true;
    }
    currentState = state;
    controlsAccepted = accepted;
    win32ExitCode = exitCode;
    serviceSpecificExitCode = specificCode;
    checkPoint = point;
    waitHint = hint;
    return true;
}
