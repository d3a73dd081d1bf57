// What one IPC client thread shares with the listening loop that ends it: whether shutdown has
// been asked for, and whether a request is being processed (its reply is then still written).
#ifndef OSTARA_IPCCLIENTSTATE_H
#define OSTARA_IPCCLIENTSTATE_H

class KorrThreadSync;

class IPCClientState
{
public:
    IPCClientState();
    ~IPCClientState();

    bool isShutdownRequested() const;
    // Asks for shutdown; true while a request is being processed.
    bool requestShutdown();
    void setProcessingMessage(bool value);

private:
    IPCClientState(const IPCClientState&);
    IPCClientState& operator=(const IPCClientState&);

    KorrThreadSync* monitor;
    bool shutdownRequested;
    bool processingMessage;
};

#endif
