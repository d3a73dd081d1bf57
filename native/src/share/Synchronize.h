// Holds a monitor for the lifetime of a scope; a null monitor makes it a no-op.
#ifndef OSTARA_SYNCHRONIZE_H
#define OSTARA_SYNCHRONIZE_H

#include "KorrThreadSync.h"

class Synchronize
{
public:
    explicit Synchronize(KorrThreadSync* m) : monitor(m)
    {
        if (monitor) {
            monitor->lock();
        }
    }
    virtual ~Synchronize()
    {
        if (monitor) {
            monitor->unlock();
        }
    }

private:
    Synchronize(const Synchronize&);
    Synchronize& operator=(const Synchronize&);
    KorrThreadSync* monitor;
};

#endif
