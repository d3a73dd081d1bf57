#include "ChildReaper.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

std::mutex& ChildReaper::lock()
{
    static std::mutex* shared = new std::mutex();   // never destroyed: used until exit
    return *shared;
}

std::set<int>& ChildReaper::owned()
{
    static std::set<int>* pids = new std::set<int>();
    return *pids;
}

void ChildReaper::own(int pid) { owned().insert(pid); }

void ChildReaper::release(int pid)
{
    std::lock_guard<std::mutex> hold(lock());
    owned().erase(pid);
}

int ChildReaper::reapOrphans()
{
    int reaped = 0;
    std::lock_guard<std::mutex> hold(lock());
    for (;;) {
        // Look without collecting: an owned child is left to its owner, which collects it
        // soon, and the next pass sees what lies behind it.
        siginfo_t info;
        info.si_pid = 0;
        if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0) {
            return reaped;
        }
        if (owned().count(info.si_pid) != 0) {
            return reaped;
        }
        int status;
        if (waitpid(info.si_pid, &status, WNOHANG) != info.si_pid) {
            return reaped;
        }
        ++reaped;
    }
}

bool ChildReaper::start()
{
    static bool started = false;
    static bool subreaper = false;
    std::lock_guard<std::mutex> once(lock());
    if (started) {
        return subreaper;
    }
    started = true;
    subreaper = prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0;
    std::thread([] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            reapOrphans();
        }
    }).detach();
    return subreaper;
}
