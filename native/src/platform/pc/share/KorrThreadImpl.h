// The Windows thread: a C-runtime thread (_beginthreadex) whose exit code is the runnable's
// result. stop() never terminates it: it asks the runnable to return and joins.
// Portable code includes this header, so it names no Windows type.
#ifndef OSTARA_KORRTHREADIMPL_H
#define OSTARA_KORRTHREADIMPL_H

#include <memory>

#include "KorrThread.h"

class KorrThreadImpl : public KorrThread
{
public:
    explicit KorrThreadImpl(KorrRunnable* runnable);
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
    void* thread;                       // the thread's handle; null before start()
    bool joined;
    bool stopped;
    std::shared_ptr<Control> control;   // shared with the running thread, which may outlive us
};

#endif
