// Serves the controller's own pipe (named by the application identifier): answers status,
// trace and wake-up requests itself, takes the controller's part of a stop, and relays every
// other request to the pipe of the supervised application while it runs, each on a
// connection of its own and within a deadline, so no request waits behind another.
#ifndef OSTARAPC_CLIENTLISTENER_H
#define OSTARAPC_CLIENTLISTENER_H

#include <string>

#include "IPCListener.h"
#include "IPCMessage.h"
#include "NativeProperties.h"

class IPCClient;
class IPCServer;
class KorrThread;
class KorrThreadSync;
class ProcessController;

class ClientListener : public IPCListener
{
public:
    // How long stopApp() waits for the application's answer unless told otherwise.
    static constexpr long STOP_REPLY_LIMIT_MS = 30000;
    // Admin connections served at once; a client over the limit is told so and closed.
    static constexpr int MAX_ADMIN_CONNECTIONS = 64;
    // A connection that sends no complete request within this time is closed.
    static constexpr long ADMIN_IDLE_LIMIT_MS = 60000;
    // How long a relayed request waits for the application's reply.
    static constexpr long RELAY_LIMIT_MS = 30000;

    // Creates and connects the server of serviceName; its KorrException leaves the constructor.
    ClientListener(ProcessController& controller, const std::string& serviceName, const std::string& appIPCServiceName);
    ~ClientListener() override;

    IPCMessage onMessage(const IPCMessage& request) override;

    void notifyAppStarted();
    // Also drops the connection to the application, so the next child is reached afresh.
    void notifyAppStopped();
    // Asks the application to stop at once and returns the reply's status: 1 when it could
    // not be asked, 2 (time-out) when no answer came within the limit. A request that is
    // still waiting then ends when the application goes.
    long stopApp();
    long stopApp(long limitMilliseconds);
    void shutdown();
    // Shortens RELAY_LIMIT_MS, for tests of applications that never answer.
    void setRelayLimit(long milliseconds);

private:
    ClientListener(const ClientListener&);
    ClientListener& operator=(const ClientListener&);

    class StopRequest;

    IPCMessage internalOnMessage(const IPCMessage& request, long timeout, long limit);
    bool isAppRunning() const;
    void applyTraceSpecification(const std::string& text);
    void joinStopRequest();

    ProcessController& controller;
    std::string serviceName;
    std::string appIPCServiceName;
    IPCServer* server;
    bool appStarted;
    long relayLimit;                        // guarded by monitor
    KorrThreadSync* monitor;                // never held across a relay
    StopRequest* stopRequest;               // the last stop sent by stopApp, guarded by stopLock
    KorrThread* stopThread;
    KorrThreadSync* stopLock;
};

#endif
