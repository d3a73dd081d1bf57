#include "IPCServer.h"

IPCServer::IPCServer(const std::string& serviceName, IPCListener& l, int max, const std::string& group)
    : IPC(serviceName), listener(l), maxConnections(max), adminGroupName(group), idleLimit(-1)
{
}

IPCServer::~IPCServer() {}
