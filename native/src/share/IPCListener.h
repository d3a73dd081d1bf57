// The callback through which an IPC server hands each request to its owner; the returned
// message is the reply. Called concurrently, once per request, on each connection's thread.
#ifndef OSTARA_IPCLISTENER_H
#define OSTARA_IPCLISTENER_H

#include <iosfwd>

#include "IPCMessage.h"

class IPCListener
{
public:
    virtual ~IPCListener() {}
    virtual IPCMessage onMessage(const IPCMessage& request) = 0;
};

std::ostream& operator<<(std::ostream& out, const IPCListener& listener);

#endif
