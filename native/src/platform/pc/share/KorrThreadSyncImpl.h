// The Windows monitor: one critical section held once by its owner (nesting is counted here)
// and one manual-reset event that notifyAll sets for exactly the threads waiting at that time.
#ifndef OSTARA_KORRTHREADSYNCIMPL_H
#define OSTARA_KORRTHREADSYNCIMPL_H

#include <atomic>

#include "KorrThreadSync.h"

struct _RTL_CRITICAL_SECTION;

// Portable code includes this header, so it names no Windows type beyond a declaration.
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
    // How many levels the calling thread holds (0 when it is not the owner).
    int heldByCaller() const;

private:
    _RTL_CRITICAL_SECTION* section;
    void* event;                       // manual reset; set while released waiters remain
    std::atomic<unsigned int> owner;   // written only while the section is held
    int holdCount;                     // read and written only by the owner
    // Guarded by the section: waiting threads, those released by the last notifyAll that
    // have not yet woken, and the notification generation.
    int waiters;
    int released;
    unsigned long generation;
};

#endif
