// The Windows IPC client: opens \\.\pipe\NAME in message mode, writes one request message
// and waits (overlapped, looking again every polling interval) for one reply message.
// A server may only identify this client, never act as it.
#ifndef OSTARA_IPCCLIENTIMPL_H
#define OSTARA_IPCCLIENTIMPL_H

#include <string>

#include "IPCClient.h"

class IPCClientImpl : public IPCClient
{
public:
    IPCClientImpl(const std::string& serviceName, NativeProperties* properties);
    // Closes a connection the owner left open, so that no handle leaks.
    ~IPCClientImpl() override;

    void connect() override;
    void disconnect() override;
    IPCMessage sendMessage(const IPCMessage& request, long pollInterval) override;

private:
    IPCClientImpl(const IPCClientImpl&);
    IPCClientImpl& operator=(const IPCClientImpl&);

    void* pipe;   // null while disconnected
};

#endif
