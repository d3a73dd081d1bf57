// Serves requests from local clients on the endpoint of a service name: each connection
// gets a thread, each request goes to the IPCListener, whose answer is the reply.
// newInstance returns the platform implementation; the caller owns and deletes it.
#ifndef OSTARA_IPCSERVER_H
#define OSTARA_IPCSERVER_H

#include <string>

#include "IPC.h"

class IPCListener;

class IPCServer : public IPC
{
public:
    // maxConnections is the most clients served at once; a negative value means no limit.
    static IPCServer* newInstance(const std::string& serviceName, IPCListener& listener, int maxConnections);
    // The admin group name is kept and reported only; it plays no part in access control.
    static IPCServer* newInstance(const std::string& serviceName, IPCListener& listener, int maxConnections,
                                  const std::string& adminGroupName);

    ~IPCServer() override;

    // Returns once the endpoint exists and accepts clients; throws KorrException otherwise.
    virtual void connect() = 0;
    // Stops listening, ends every connection and returns when the listening thread is gone.
    virtual void disconnect() = 0;

    // Closes a connection that sends no complete request within milliseconds of connecting or
    // of its last reply; negative (the default) waits for ever. Takes effect at connect().
    void setIdleLimit(long milliseconds) { idleLimit = milliseconds; }

    IPCListener& getListener() const { return listener; }
    std::string getAdminGroupName() const { return adminGroupName; }

protected:
    IPCServer(const std::string& serviceName, IPCListener& listener, int maxConnections,
              const std::string& adminGroupName);
    int getMaxConnections() const { return maxConnections; }
    long getIdleLimit() const { return idleLimit; }

private:
    IPCServer(const IPCServer&);
    IPCServer& operator=(const IPCServer&);

    IPCListener& listener;
    int maxConnections;
    std::string adminGroupName;
    long idleLimit;
};

#endif
