// A KorrThread on pthreads. The wrapper records the exit code itself; stop() never kills a
// thread (one killed inside the trace lock would hang the process): it asks the runnable to
// return, joins it and reports exit code 0.
#ifndef OSTARA_KORRTHREADIMPL_H
#define OSTARA_KORRTHREADIMPL_H

#include <pthread.h>

#include <memory>

#include "KorrThread.h"

class KorrThreadImpl : public KorrThread
{
public:
    explicit KorrThreadImpl(KorrRunnable* runnable);
    // Neither stops nor waits for the thread: a running thread is detached and ends by itself.
    ~KorrThreadImpl() override;

    void start() override;
    void stop() override;
    void join() override;
    bool isAlive() override;
    long getExitCode() override;

    static unsigned int getCurrentThreadId();

    struct Control;

private:
    void requireStarted(const char* method, const char* key);

    pthread_t thread;
    bool started;
    bool joined;
    bool stopped;
    std::shared_ptr<Control> control;   // shared with the running thread, which may outlive us
};

#endif
