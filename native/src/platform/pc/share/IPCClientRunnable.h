// Serves one connected pipe instance on its own thread: read a request message, hand it to
// the listener, write the reply, until the client leaves or the server shuts down. Reads and
// writes are overlapped beside a stop event, so a forced end never kills the thread. The
// handle belongs to the connection listener, which closes it after this runnable has ended.
#ifndef OSTARA_IPCCLIENTRUNNABLE_H
#define OSTARA_IPCCLIENTRUNNABLE_H

#include <string>

#include "IPCClientState.h"
#include "KorrRunnable.h"

class IPCListener;

class IPCClientRunnable : public KorrRunnable
{
public:
    // The thread's result when the client closed its end.
    static const long CLIENT_DISCONNECTED = 109;   // ERROR_BROKEN_PIPE

    // idleLimit: milliseconds to wait for each request before the connection is closed;
    // negative waits for ever.
    IPCClientRunnable(const std::string& serviceName, void* pipeHandle, IPCListener& listener, long idleLimit = -1);
    ~IPCClientRunnable() override;

    long run() override;
    // Asks the loop to end after the current request; true while a request is being
    // processed, whose reply is still written.
    bool shutdown();
    // Forced end (KorrThread::stop): wakes a read that waits for the next request.
    void requestStop() override;
    // Closes the handle once run() has ended. It is not disconnected: a reply written last
    // stays readable for the client until the client closes its end.
    void closeConnection();

private:
    IPCClientRunnable(const IPCClientRunnable&);
    IPCClientRunnable& operator=(const IPCClientRunnable&);

    // One overlapped read or write; false with the error when it failed or was stopped. A
    // read given a limit (ms, >= 0) that brings nothing in that time fails with ERROR_TIMEOUT.
    bool transfer(bool write, void* buffer, unsigned long length, unsigned long& done, unsigned long& error,
                  long limit = -1);
    bool readMessage(unsigned char* buffer, unsigned long& length, unsigned long& error);

    std::string serviceName;
    void* pipe;
    IPCListener& listener;
    long idleLimit;
    IPCClientState state;
    void* ioEvent;
    void* stopEvent;      // set by requestStop()
};

#endif
