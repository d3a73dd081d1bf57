// Makes this process a child subreaper and collects, about once a second, every ended child
// that no KorrProcessImpl owns: descendants of the agent that outlive it, and every process a
// PID 1 (in a container) inherits, never pile up as zombies.
#ifndef OSTARA_CHILDREAPER_H
#define OSTARA_CHILDREAPER_H

#include <mutex>
#include <set>

class ChildReaper
{
public:
    // Once per process; later calls do nothing. False when the kernel refused the subreaper
    // role (the collecting still runs, for what this process inherits anyway).
    static bool start();
    // Collects every ended child that is not owned; returns how many.
    static int reapOrphans();

    // A KorrProcessImpl holds the lock from its spawn until it has recorded the child, and
    // owns the child until it has collected it, so its exit status is never taken here.
    static std::mutex& lock();
    static void own(int pid);        // with lock() held
    static void release(int pid);

private:
    static std::set<int>& owned();
};

#endif
