// The POSIX IPC client: a SOCK_SEQPACKET connection to <ipc dir>/NAME, one packet per
// request and per reply. It also refuses, as the server would, to talk to a server whose
// user is neither root nor its own, so that such a client learns it is not authorized.
#ifndef OSTARA_IPCCLIENTIMPL_H
#define OSTARA_IPCCLIENTIMPL_H

#include <string>

#include "IPCClient.h"

class IPCClientImpl : public IPCClient
{
public:
    IPCClientImpl(const std::string& serviceName, NativeProperties* properties);
    // Closes a connection the owner left open, so that no descriptor leaks.
    ~IPCClientImpl() override;

    void connect() override;
    void disconnect() override;
    IPCMessage sendMessage(const IPCMessage& request, long pollInterval) override;
    IPCMessage sendMessage(const IPCMessage& request, long pollInterval, long limit) override;

private:
    int openSocket(const std::string& path);

    int socket;   // -1 while disconnected
};

#endif
