// Talks to the IPC server of a service name: one request at a time, each answered by one
// reply. newInstance returns the platform implementation; the caller owns and deletes it.
#ifndef OSTARA_IPCCLIENT_H
#define OSTARA_IPCCLIENT_H

#include <string>

#include "IPC.h"
#include "IPCMessage.h"

class NativeProperties;

class IPCClient : public IPC
{
public:
    // The properties are kept for the caller's sake; the client does not consult them.
    static IPCClient* newInstance(const std::string& serviceName, NativeProperties& properties);
    // For callers without application properties (administration tools, the server itself).
    static IPCClient* newInstance(const std::string& serviceName);
    // A client that also trusts a server run by the user serverUser, besides root and the
    // caller's own user, and looks for it where that user's servers live.
    static IPCClient* newInstance(const std::string& serviceName, const std::string& serverUser);

    ~IPCClient() override;

    // Opens the connection or throws: IPCNotFoundException when nothing serves the name,
    // KorrException for every other failure.
    virtual void connect() = 0;
    // As connect(), but nothing serving the name is an answer, not a failure: false then, with
    // no exception made (a probe at every start would otherwise build and throw one).
    virtual bool connectIfServed();
    // Closes the connection; on a closed client it only traces.
    virtual void disconnect() = 0;
    // Sends request and waits for its reply without an overall limit; pollInterval is how
    // often, in milliseconds, the wait looks again (-1 stands for 1).
    virtual IPCMessage sendMessage(const IPCMessage& request, long pollInterval) = 0;
    // As above, but gives up once no reply has come within `limit` milliseconds: then throws
    // IPCTimeoutException and closes the connection, so that the late reply is never read
    // as the answer to a later request.
    virtual IPCMessage sendMessage(const IPCMessage& request, long pollInterval, long limit) = 0;

protected:
    IPCClient(const std::string& serviceName, NativeProperties* properties);
    NativeProperties* getProperties() const { return properties; }

private:
    IPCClient(const IPCClient&);
    IPCClient& operator=(const IPCClient&);

    NativeProperties* properties;   // not owned; null when the caller had none
};

#endif
