#include "IPC.h"

IPC::IPC(const std::string& name) : serviceName(name) {}

IPC::IPC(const IPC& other) : serviceName(other.serviceName) {}

IPC& IPC::operator=(const IPC& other)
{
    serviceName = other.serviceName;
    return *this;
}

IPC::~IPC() {}

std::string IPC::shortName(const std::string& serviceName)
{
    return serviceName.substr(0, serviceName.find('@'));
}
