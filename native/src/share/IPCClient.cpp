#include "IPCClient.h"

IPCClient::IPCClient(const std::string& serviceName, NativeProperties* p) : IPC(serviceName), properties(p) {}

IPCClient::~IPCClient() {}
