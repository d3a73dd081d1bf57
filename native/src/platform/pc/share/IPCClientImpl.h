// The Windows IPC client: opens \\.\pipe\NAME in message mode, writes one request message
// and waits (overlapped, looking again every polling interval) for one reply message.
// A server may only identify this client, never act as it; one that runs as another user
// than LocalSystem, this client's own or the one named at creation gets nothing sent.
#ifndef OSTARA_IPCCLIENTIMPL_H
#define OSTARA_IPCCLIENTIMPL_H

#include <string>

#include "IPCClient.h"

class IPCClientImpl : public IPCClient
{
public:
    // serverUser, when not empty, names one more account whose server is trusted.
    IPCClientImpl(const std::string& serviceName, NativeProperties* properties,
                  const std::string& serverUser = std::string());
    // Closes a connection the owner left open, so that no handle leaks.
    ~IPCClientImpl() override;

    void connect() override;
    void disconnect() override;
    IPCMessage sendMessage(const IPCMessage& request, long pollInterval) override;
    IPCMessage sendMessage(const IPCMessage& request, long pollInterval, long limit) override;

private:
    IPCClientImpl(const IPCClientImpl&);
    IPCClientImpl& operator=(const IPCClientImpl&);

    void* pipe;   // null while disconnected
    std::string serverUser;
};

#endif
