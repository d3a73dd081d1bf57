// Turns process signals into calls on an ordinary thread: the signal handler only writes the
// signal number to a self-pipe, and one dispatcher thread reads it and calls the registered
// ProcessSignalActionHandler (SIGINT, SIGTERM: shutdownAction(128 + n); SIGQUIT: defaultAction).
#ifndef OSTARA_SIGNALDISPATCHER_H
#define OSTARA_SIGNALDISPATCHER_H

#include <atomic>

#include "KorrRunnable.h"

class KorrThreadImpl;
class ProcessSignalActionHandler;

class SignalDispatcher : public KorrRunnable
{
public:
    // Registers handler (null: signals are consumed and nothing is called); the first call
    // starts the dispatcher thread; every call installs the signal handlers.
    static void install(ProcessSignalActionHandler* handler);

    long run() override;

private:
    SignalDispatcher(int readEnd, int writeEnd);
    SignalDispatcher(const SignalDispatcher&);
    SignalDispatcher& operator=(const SignalDispatcher&);
    static SignalDispatcher& instance();
    static void onSignal(int signal);
    void dispatch(int signal);

    int readEnd;
    int writeEnd;
    std::atomic<ProcessSignalActionHandler*> handler;
    KorrThreadImpl* thread;
};

#endif
