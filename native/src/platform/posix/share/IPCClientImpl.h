// The POSIX IPC client: a SOCK_SEQPACKET connection to <ipc dir>/NAME, one packet per
// request and per reply. It trusts a server (SO_PEERCRED) run by root or its own user, and
// the user named at creation; any other server is closed before a byte is sent. It looks in
// the directories where those servers live: its own user's, then root's.
#ifndef OSTARA_IPCCLIENTIMPL_H
#define OSTARA_IPCCLIENTIMPL_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "IPCClient.h"

class IPCClientImpl : public IPCClient
{
public:
    // serverUser, when not empty, names one more user whose server is trusted.
    IPCClientImpl(const std::string& serviceName, NativeProperties* properties,
                  const std::string& serverUser = std::string());
    // Closes a connection the owner left open, so that no descriptor leaks.
    ~IPCClientImpl() override;

    void connect() override;
    bool connectIfServed() override;
    void disconnect() override;
    IPCMessage sendMessage(const IPCMessage& request, long pollInterval) override;
    IPCMessage sendMessage(const IPCMessage& request, long pollInterval, long limit) override;

private:
    int openSocket(const std::string& path);
    ssize_t pendingReply(unsigned char* buffer, std::size_t size);
    // connect(); when nothing serves the name, false unless `required`, which throws instead.
    bool establish(bool required);
    bool trustedServers(std::vector<uid_t>& users, std::vector<uid_t>& places);

    int socket;   // -1 while disconnected
    std::string serverUser;
};

#endif
