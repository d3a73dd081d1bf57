// The listening loop of an IPC server, on a thread of its own: creates the message-mode
// instances of \\.\pipe\NAME (only Administrators and the server's account may open them),
// waits for a client with an overlapped ConnectNamedPipe beside a wake-up event, enforces
// the connection limit and runs one IPCClientRunnable thread per client (IPCClientThreads).
#ifndef OSTARA_IPCCLIENTCONNECTIONLISTENER_H
#define OSTARA_IPCCLIENTCONNECTIONLISTENER_H

#include <string>

#include "IPCClientThreads.h"
#include "IPCListeningState.h"
#include "KorrRunnable.h"

class IPCListener;

class IPCClientConnectionListener : public KorrRunnable
{
public:
    // The group name is accepted for the caller's sake and ignored.
    IPCClientConnectionListener(const std::string& serviceName, IPCListener& listener, int maxConnections,
                                const std::string& groupName);
    ~IPCClientConnectionListener() override;

    long run() override;
    // Applies to the connections accepted from then on; see IPCServer::setIdleLimit.
    void setIdleLimit(long milliseconds) { idleLimit = milliseconds; }
    // Asks the loop to end; returns true when the request reached it.
    bool shutdown();
    void requestStop() override { shutdown(); }
    // Waits at most timeout ms until the pipe accepts clients (or the loop has ended);
    // true when it does.
    bool waitRunning(long timeout) const { return state.waitRunning(timeout); }
    // True once run() has returned or is about to.
    bool hasEnded() const { return state.hasEnded(); }
    std::string getErrorMessage() const { return state.getErrorMessage(); }

private:
    IPCClientConnectionListener(const IPCClientConnectionListener&);
    IPCClientConnectionListener& operator=(const IPCClientConnectionListener&);

    // Waits for a client on the instance; false when woken for shutdown (instance unused).
    bool awaitClient(void* instance, bool& connected, unsigned long& error);
    void serve(void* instance);

    std::string serviceName;
    IPCListener& listener;
    long idleLimit;
    IPCClientThreads clients;         // used by the listening thread only
    IPCListeningState state;
    void* wakeEvent;                  // set by shutdown()
};

#endif
