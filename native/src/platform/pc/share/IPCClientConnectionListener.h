// The listening loop of an IPC server, on a thread of its own: creates the message-mode
// instances of \\.\pipe\NAME (only Administrators and the server's account may open them),
// waits for a client with an overlapped ConnectNamedPipe beside a wake-up event, enforces
// the connection limit and runs one IPCClientRunnable thread per client (IPCClientThreads).
#ifndef OSTARA_IPCCLIENTCONNECTIONLISTENER_H
#define OSTARA_IPCCLIENTCONNECTIONLISTENER_H

#include <string>

#include "IPCClientThreads.h"
#include "KorrRunnable.h"

class IPCListener;
class KorrThreadSync;

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
    bool waitRunning(long timeout) const;
    // True once run() has returned or is about to.
    bool hasEnded() const;
    std::string getErrorMessage() const;

private:
    IPCClientConnectionListener(const IPCClientConnectionListener&);
    IPCClientConnectionListener& operator=(const IPCClientConnectionListener&);

    bool isRunning() const;
    void setRunning(bool value);
    bool isShutdownRequested() const;
    void setShutdownRequested(bool value);
    void setEnded(const std::string& message);

    // Waits for a client on the instance; false when woken for shutdown (instance unused).
    bool awaitClient(void* instance, bool& connected, unsigned long& error);
    void serve(void* instance);

    std::string serviceName;
    IPCListener& listener;
    long idleLimit;
    IPCClientThreads clients;         // used by the listening thread only
    bool running;
    bool shutdownRequested;
    bool ended;
    KorrThreadSync* monitor;
    std::string errorMessage;         // guarded by the monitor
    void* wakeEvent;                  // set by shutdown()
};

#endif
