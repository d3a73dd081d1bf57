// A re-entrant monitor in the manner of a Java object monitor: lock/unlock nest for the
// owner, wait releases every level and restores it, notifyAll wakes only current waiters.
#ifndef OSTARA_KORRTHREADSYNC_H
#define OSTARA_KORRTHREADSYNC_H

class KorrThreadSync
{
public:
    KorrThreadSync() {}
    virtual ~KorrThreadSync() {}
    virtual void lock() = 0;
    virtual void unlock() = 0;
    // Milliseconds; -1 waits without limit. Returns 0 when notified, -1 on time-out.
    virtual int wait(long timeout) = 0;
    virtual void wait() = 0;
    virtual void notifyAll() = 0;

private:
    KorrThreadSync(const KorrThreadSync&);
    KorrThreadSync& operator=(const KorrThreadSync&);
};

#endif
