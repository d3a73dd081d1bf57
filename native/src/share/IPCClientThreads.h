// The client threads of one IPC server's listening loop: one per connection up to the limit,
// reaped once finished, all ended together at shutdown. Connections over the limit are named
// in the event log at most once a minute, so a flood of them cannot fill the disk.
#ifndef OSTARA_IPCCLIENTTHREADS_H
#define OSTARA_IPCCLIENTTHREADS_H

#include <list>
#include <string>

class IPCClientRunnable;
class KorrThread;
class RasDescriptor;

class IPCClientThreads
{
public:
    // Events go out under `source`, the listening loop's descriptor. A negative limit is none.
    IPCClientThreads(const RasDescriptor& source, const std::string& serviceName, int maxConnections);
    ~IPCClientThreads();

    // Reaps finished clients; true when one more connection stays within the limit. Otherwise
    // the refusal is counted (and reported when a minute has passed since the last report)
    // and `refusal` gets the text for the client.
    bool admit(std::string& refusal);
    // Runs `runnable` (owned from here) on a thread of its own. When the thread cannot start it
    // says so in the event log, closes the connection and deletes the runnable.
    void start(IPCClientRunnable* runnable);
    // Joins and frees the clients that have ended, closing their connections.
    void reap();
    // Idle clients are woken at once; a client in the middle of a request finishes its reply.
    // All of them end in parallel, so one slow request does not hold up the others' release.
    void endAll();

private:
    IPCClientThreads(const IPCClientThreads&);
    IPCClientThreads& operator=(const IPCClientThreads&);

    const RasDescriptor& source;
    std::string serviceName;
    int maxConnections;
    long refusedSinceReport;          // over the limit since the last ZRKNV0090 event
    long lastRefusalReport;           // steady-clock seconds of that event, -1 before
    std::list<KorrThread*> clients;
};

#endif
