#include "RestartBudget.h"

namespace {

enum Bookkeeping { NONE, NEW_WINDOW, NEW_WINDOW_COUNTED, COUNT, COUNT_AND_DELAY };
enum Outcome { ENDED, CONFIG_ERROR, EXPIRED_QM, EXPIRED, QM_UNAVAILABLE, RESTART, GIVE_UP, DELAY };

struct Row {
    const char* key;
    int inserts;
    ProcessControllerState::ProcessControllerStateValue next;
    Bookkeeping bookkeeping;
};

// One row per outcome. A failure after the window expired restarts at once and opens a new
// window that counts it, so the budget applies again to the failures that follow.
const Row ROWS[] = {
    /* ENDED          */ {"ZRKPC0022_PROCESS_ENDED", 1, ProcessControllerState::STOPPED, NONE},
    /* CONFIG_ERROR   */ {"ZRKPC0023_PROCESS_ENDED", 1, ProcessControllerState::STOPPED, NONE},
    /* EXPIRED_QM     */ {"ZRKPC0028_PROCESS_ENDED", 1, ProcessControllerState::WAITING, NEW_WINDOW},
    /* EXPIRED        */ {"ZRKPC0024_PROCESS_ENDED", 1, ProcessControllerState::RECOVERING, NEW_WINDOW_COUNTED},
    /* QM_UNAVAILABLE */ {"ZRKPC0052_PROCESS_ENDED", 1, ProcessControllerState::WAITING, COUNT},
    /* RESTART        */ {"ZRKPC0027_PROCESS_ENDED", 1, ProcessControllerState::RECOVERING, COUNT},
    /* GIVE_UP        */ {"ZRKPC0025_PROCESS_ENDED", 3, ProcessControllerState::STOPPED, COUNT},
    /* DELAY          */ {"ZRKPC0026_PROCESS_ENDED", 4, ProcessControllerState::RECOVERING, COUNT_AND_DELAY},
};

Outcome classify(bool stopping, int exit, int maxCount, bool windowExpired, int count, int maxDelay)
{
    if (stopping || exit == 0 || exit == 2) {
        return ENDED;
    }
    if (exit == 78) {
        return CONFIG_ERROR;
    }
    // Without a budget (maxCount <= 0) the window plays no part.
    if (maxCount > 0 && windowExpired) {
        return exit == 75 ? EXPIRED_QM : EXPIRED;
    }
    if (count < maxCount) {
        return exit == 75 ? QM_UNAVAILABLE : RESTART;
    }
    return maxDelay <= 0 ? GIVE_UP : DELAY;
}

} // namespace

RestartBudget::Decision RestartBudget::decide(bool stopping, int exit, int maxCount, int maxInterval, int maxDelay,
                                              long long now)
{
    long long age = now - windowStart;
    const Row& row = ROWS[classify(stopping, exit, maxCount, age >= maxInterval, count, maxDelay)];
    Decision decision = {row.key, row.inserts, ProcessControllerState(row.next), count, age, 0};
    switch (row.bookkeeping) {
    case NONE:
        break;
    case NEW_WINDOW:
        openWindow(now);
        break;
    case NEW_WINDOW_COUNTED:
        openWindow(now);
        count = 1;
        break;
    case COUNT:
        ++count;
        break;
    case COUNT_AND_DELAY:
        ++count;
        decision.delaySeconds = maxDelay;
        break;
    }
    return decision;
}

void RestartBudget::openWindow(long long now)
{
    windowStart = now;
    count = 0;
}
