// A thread that runs one KorrRunnable once; its exit code is 259 while it runs, the
// runnable's result after, -1 after an uncaught KorrException and 0 after stop().
#ifndef OSTARA_KORRTHREAD_H
#define OSTARA_KORRTHREAD_H

class KorrRunnable;

class KorrThread
{
public:
    static constexpr long STILL_ACTIVE = 259;

    explicit KorrThread(KorrRunnable* r) : runnable(r) {}
    virtual ~KorrThread() {}

    virtual void start() = 0;
    // Asks the runnable to finish (KorrRunnable::requestStop) and waits for it.
    virtual void stop() = 0;
    virtual void join() = 0;
    virtual bool isAlive() = 0;
    virtual long getExitCode() = 0;

    KorrRunnable* getRunnable() const { return runnable; }
    static unsigned int getCurrentThreadId();

private:
    KorrThread(const KorrThread&);
    KorrThread& operator=(const KorrThread&);
    KorrRunnable* runnable;
};

#endif
