// The restart budget of the supervision loop: the counting window, the restarts counted in
// it, and the decision, when a child has ended, whether to stop, wait for the queue manager,
// restart at once or restart after a delay.
#ifndef OSTARAPC_RESTARTBUDGET_H
#define OSTARAPC_RESTARTBUDGET_H

#include "ProcessControllerState.h"

class RestartBudget
{
public:
    struct Decision {
        const char* key;                  // event message, information level
        int inserts;                      // 1: exit; 3: and count, window age; 4: and delay
        ProcessControllerState next;      // state to request
        int count;                        // restarts in the window before this end
        long long windowSeconds;          // age of the window
        int delaySeconds;                 // > 0: wait that long, then open a new window
    };

    explicit RestartBudget(long long windowStart) : windowStart(windowStart), count(0) {}

    // stopping: a stop was requested while the child ran. Times are seconds since the epoch.
    Decision decide(bool stopping, int exit, int maxCount, int maxInterval, int maxDelay, long long now);
    // Ends a restart delay: a new window with nothing counted.
    void openWindow(long long now);
    int getCount() const { return count; }

private:
    long long windowStart;
    int count;
};

#endif
