// The work one KorrThread runs. run() returns the thread's exit code.
#ifndef OSTARA_KORRRUNNABLE_H
#define OSTARA_KORRRUNNABLE_H

class KorrRunnable
{
public:
    virtual ~KorrRunnable() {}
    virtual long run() = 0;
    // Called by KorrThread::stop() before it joins: a runnable that blocks must make run()
    // return promptly (wake its read, set its flag). Threads are never killed mid-flight.
    virtual void requestStop() {}
};

#endif
