// The IPC server: its listening loop (the platform's IPCClientConnectionListener) runs on a
// thread of its own; the server counts as connected exactly while that thread exists.
#ifndef OSTARA_IPCSERVERIMPL_H
#define OSTARA_IPCSERVERIMPL_H

#include <iosfwd>
#include <string>

#include "IPCServer.h"

class IPCClientConnectionListener;
class KorrThread;

class IPCServerImpl : public IPCServer
{
public:
    IPCServerImpl(const std::string& serviceName, IPCListener& listener, int maxConnections,
                  const std::string& adminGroupName);
    ~IPCServerImpl() override;

    void connect() override;
    void disconnect() override;

    friend std::ostream& operator<<(std::ostream& out, const IPCServerImpl& server);

private:
    IPCClientConnectionListener* clientConnectionListener;
    KorrThread* clientConnectionListenerThread;
};

std::ostream& operator<<(std::ostream& out, const IPCServerImpl& server);

#endif
