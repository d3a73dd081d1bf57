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

std::string ServiceStatus::notifyMessage() const
{
    std::string message;
    if (currentState == RUNNING) {
        message += "READY=1\n";
    } else if (currentState == STOP_PENDING) {
        message += "STOPPING=1\n";
        if (waitHint > 0) {
            message += "EXTEND_TIMEOUT_USEC=" + std::to_string(static_cast<unsigned long long>(waitHint) * 1000) + "\n";
        }
    }
    message += "STATUS=" + (currentState != STOPPED && !detail.empty() ? detail : stateText(currentState));
    if (win32ExitCode == SERVICE_SPECIFIC_ERROR) {
        message += ", exit status " + std::to_string(serviceSpecificExitCode);
    } else if (win32ExitCode != 0) {
        message += ", error " + std::to_string(win32ExitCode);
    }
    return message;
}
