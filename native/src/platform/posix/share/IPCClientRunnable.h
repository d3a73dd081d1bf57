// Serves one accepted connection on its own thread: read a request packet, hand it to the
// listener, write the reply, until the client leaves or the server shuts down. The socket
// belongs to the connection listener, which closes it after this runnable has ended.
#ifndef OSTARA_IPCCLIENTRUNNABLE_H
#define OSTARA_IPCCLIENTRUNNABLE_H

#include <string>

#include "IPCClientState.h"
#include "KorrRunnable.h"

class IPCListener;

class IPCClientRunnable : public KorrRunnable
{
public:
    // The thread's result when the client closed its end (the value a broken pipe has elsewhere).
    static const long CLIENT_DISCONNECTED = 109;

    // idleLimit: milliseconds to wait for each request before the connection is closed;
    // negative waits for ever.
    IPCClientRunnable(const std::string& serviceName, int socket, IPCListener& listener, long idleLimit = -1);
    ~IPCClientRunnable() override;

    long run() override;
    // Asks the loop to end after the current request; true while a request is being
    // processed, whose reply is still written.
    bool shutdown();
    // Forced end (KorrThread::stop): wakes a read that waits for the next request. Only the
    // read side is shut, so a request that has just arrived still gets its reply written.
    void requestStop() override;
    // Closes the socket once run() has ended.
    void closeConnection();

private:
    IPCClientRunnable(const IPCClientRunnable&);
    IPCClientRunnable& operator=(const IPCClientRunnable&);

    std::string serviceName;
    int socket;
    IPCListener& listener;
    long idleLimit;
    IPCClientState state;
};

#endif
