#include "IPCClient.h"

#include "IPCNotFoundException.h"

IPCClient::IPCClient(const std::string& serviceName, NativeProperties* p) : IPC(serviceName), properties(p) {}

IPCClient::~IPCClient() {}

bool IPCClient::connectIfServed()
{
    try {
        connect();
    } catch (const IPCNotFoundException&) {
        return false;
    }
    return true;
}
