// The POSIX monitor: one mutex, one condition variable on the monotonic clock and a
// notification generation that notifyAll bumps; re-entrancy is counted on top of the mutex.
#ifndef OSTARA_KORRTHREADSYNCIMPL_H
#define OSTARA_KORRTHREADSYNCIMPL_H

#include <pthread.h>

#include <atomic>

#include "KorrThreadSync.h"

class KorrThreadSyncImpl : public KorrThreadSync
{
public:
    KorrThreadSyncImpl();
    ~KorrThreadSyncImpl() override;

    void lock() override;
    void unlock() override;
    int wait(long timeout) override;
    void wait() override;
    void notifyAll() override;

    // For tests and assertions: how often the calling thread holds this monitor (0 if not owner).
    int heldByCaller() const;

private:
    pthread_mutex_t mutex;
    pthread_cond_t condition;
    std::atomic<unsigned int> owner;   // written only while the mutex is held
    int holdCount;                     // read and written only by the owner
    unsigned long generation;          // guarded by the mutex
};

#endif
