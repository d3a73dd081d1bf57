#include "IPCClientState.h"

#include "KorrThreadSyncImpl.h"
#include "Synchronize.h"

IPCClientState::IPCClientState() : monitor(new KorrThreadSyncImpl()), shutdownRequested(false), processingMessage(false)
{
}

IPCClientState::~IPCClientState() { delete monitor; }

bool IPCClientState::isShutdownRequested() const
{
    Synchronize hold(monitor);
    return shutdownRequested;
}

bool IPCClientState::requestShutdown()
{
    Synchronize hold(monitor);
    shutdownRequested = true;
    return processingMessage;
}

void IPCClientState::setProcessingMessage(bool value)
{
    Synchronize hold(monitor);
    processingMessage = value;
}
