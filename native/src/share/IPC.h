// Common base of the IPC server and client: the service name from which both form the
// name of the endpoint they meet at.
#ifndef OSTARA_IPC_H
#define OSTARA_IPC_H

#include <string>

class IPC
{
public:
    explicit IPC(const std::string& serviceName);
    IPC(const IPC& other);
    IPC& operator=(const IPC& other);
    virtual ~IPC();

    // The part of a service name up to its first "@" (an agent name without its queue
    // manager), as messages about an unreachable service show it.
    static std::string shortName(const std::string& serviceName);

protected:
    std::string getServiceName() const { return serviceName; }

private:
    std::string serviceName;
};

#endif
