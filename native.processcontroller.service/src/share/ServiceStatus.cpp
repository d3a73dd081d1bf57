#include "ServiceStatus.h"

ServiceStatus::ServiceStatus()
    : serviceType(OWN_PROCESS), currentState(STOPPED), controlsAccepted(0), win32ExitCode(0),
      serviceSpecificExitCode(0), checkPoint(0), waitHint(0)
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
