#include "IPCListeningState.h"

#include "KorrThreadSyncImpl.h"
#include "Synchronize.h"

IPCListeningState::IPCListeningState()
    : monitor(new KorrThreadSyncImpl()), running(false), shutdownRequested(false), ended(false)
{
}

IPCListeningState::~IPCListeningState() { delete monitor; }

bool IPCListeningState::isRunning() const
{
    Synchronize hold(monitor);
    return running;
}

void IPCListeningState::setRunning(bool value)
{
    Synchronize hold(monitor);
    running = value;
    monitor->notifyAll();
}

bool IPCListeningState::isShutdownRequested() const
{
    Synchronize hold(monitor);
    return shutdownRequested;
}

void IPCListeningState::setShutdownRequested(bool value)
{
    Synchronize hold(monitor);
    shutdownRequested = value;
}

void IPCListeningState::setEnded(const std::string& message)
{
    Synchronize hold(monitor);
    if (!message.empty()) {
        errorMessage = message;
    }
    running = false;
    ended = true;
    monitor->notifyAll();
}

bool IPCListeningState::hasEnded() const
{
    Synchronize hold(monitor);
    return ended;
}

void IPCListeningState::setErrorMessage(const std::string& message)
{
    Synchronize hold(monitor);
    errorMessage = message;
}

std::string IPCListeningState::getErrorMessage() const
{
    Synchronize hold(monitor);
    return errorMessage;
}

bool IPCListeningState::waitRunning(long timeout) const
{
    Synchronize hold(monitor);
    if (!running && !ended) {
        monitor->wait(timeout);
    }
    return running;
}
