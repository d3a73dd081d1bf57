// The listening loop of an IPC server, on a thread of its own: accepts connections on the
// service's endpoint, refuses peers that are neither root nor the server's user, enforces
// the connection limit and runs one IPCClientRunnable thread per client (IPCClientThreads). A
// client over the limit gets one reply packet saying so (ZRKNV0090), then its connection is
// closed. A wake-up pipe polled beside the socket lets shutdown() end the loop at once.
#ifndef OSTARA_IPCCLIENTCONNECTIONLISTENER_H
#define OSTARA_IPCCLIENTCONNECTIONLISTENER_H

#include <string>

#include "IPCClientThreads.h"
#include "IPCListeningState.h"
#include "KorrRunnable.h"

class IPCEndpoint;
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
    // Waits at most timeout ms until the endpoint accepts clients (or the loop has ended);
    // true when it does.
    bool waitRunning(long timeout) const { return state.waitRunning(timeout); }
    // True once run() has returned or is about to (its endpoint is closed).
    bool hasEnded() const { return state.hasEnded(); }
    std::string getErrorMessage() const { return state.getErrorMessage(); }

private:
    IPCClientConnectionListener(const IPCClientConnectionListener&);
    IPCClientConnectionListener& operator=(const IPCClientConnectionListener&);

    void acceptOne(int listening);
    void pause(long milliseconds);

    std::string serviceName;
    IPCListener& listener;
    long idleLimit;
    IPCClientThreads clients;         // used by the listening thread only
    IPCListeningState state;
    int wakeRead;
    int wakeWrite;
};

#endif
