#include "ServiceDispatcher.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <signal.h>

#include "KorrException.h"
#include "KorrRunnable.h"
#include "KorrThreadImpl.h"
#include "ServiceStatus.h"
#include "SystemdNotifier.h"

namespace {

std::mutex registrationLock;
bool dispatching = false;                          // guarded by registrationLock
ServiceDispatcher::ControlHandler handler = nullptr;  // guarded by registrationLock
bool stopPending = false;                          // guarded by registrationLock
pthread_t dispatcherThread;                        // set before the service thread starts
std::atomic<bool> procedureEnded{false};
SystemdNotifier* notifier = nullptr;               // set by start() before the service thread


// Runs the service procedure, then wakes the dispatcher, whose sigwait sees the flag.
class ServiceRunnable : public KorrRunnable
{
public:
    explicit ServiceRunnable(ServiceDispatcher::ServiceProcedure p) : procedure(p), result(1) {}
    long run() override
    {
        result = procedure();
        procedureEnded.store(true);
        pthread_kill(dispatcherThread, SIGHUP);
        return result;
    }
    int getResult() const { return result; }

private:
    ServiceDispatcher::ServiceProcedure procedure;
    int result;
};

sigset_t controlSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

int ServiceDispatcher::start(const std::string&, bool, ServiceProcedure procedure)
{
    notifier = SystemdNotifier::fromEnvironment();
    sigset_t set = controlSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        std::abort();   // only an invalid argument fails: a bug
    }
    dispatcherThread = pthread_self();
    {
        std::lock_guard<std::mutex> hold(registrationLock);
        dispatching = true;
    }
    ServiceRunnable runnable(procedure);
    KorrThreadImpl thread(&runnable);
    try {
        thread.start();
    } catch (const KorrException&) {
        std::lock_guard<std::mutex> hold(registrationLock);
        dispatching = false;
        throw;
    }
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) {
            continue;
        }
        if (procedureEnded.load()) {
            break;
        }
        ControlHandler current;
        {
            std::lock_guard<std::mutex> hold(registrationLock);
            current = handler;
            if (!current && signal != SIGHUP) {
                stopPending = true;
            }
        }
        if (current) {
            current(signal == SIGHUP ? ServiceStatus::CONTROL_INTERROGATE : ServiceStatus::CONTROL_STOP);
        }
    }
    thread.join();
    {
        std::lock_guard<std::mutex> hold(registrationLock);
        dispatching = false;
        handler = nullptr;
    }
    return runnable.getResult();
}

bool ServiceDispatcher::registerControlHandler(const std::string&, ControlHandler h)
{
    std::lock_guard<std::mutex> hold(registrationLock);
    if (!dispatching) {
        errno = ESRCH;
        return false;
    }
    handler = h;
    if (stopPending) {
        // Delivered again through sigwait, so that the handler runs on the dispatcher thread.
        stopPending = false;
        pthread_kill(dispatcherThread, SIGTERM);
    }
    return true;
}

int ServiceDispatcher::setStatus(const ServiceStatus& status)
{
    if (notifier && !notifier->notify(SystemdNotifier::statusMessage(status))) {
        return errno != 0 ? errno : EIO;
    }
    return 0;
}
