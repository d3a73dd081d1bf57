// The controller thread of the service: initialises the process controller, runs it if that
// succeeded and no stop was asked for meanwhile, then wakes the service thread through the
// shared monitor. Its progress is kept under that monitor, so the service thread can tell a
// finished controller from a stop request, and a controller that is about to run from one
// that will not.
#ifndef OSTARAPCSERVICE_PROCESSMONITOR_H
#define OSTARAPCSERVICE_PROCESSMONITOR_H

#include "KorrRunnable.h"

class KorrThreadSync;
class ProcessController;
class ServiceLog;

class ProcessMonitor : public KorrRunnable
{
public:
    ProcessMonitor(ProcessController* controller, KorrThreadSync* monitor, ServiceLog* serviceLog);

    // initialize(), then run() unless that failed or requestStop() came first; the result is
    // the thread's exit code. Notifies the monitor after each of the two.
    long run() override;
    // Under the monitor: a controller not yet running will not be run.
    void requestStop() override;
    // Under the monitor: run() of the controller has been (or is being) called.
    bool hasStarted() const;
    // Under the monitor: true once run() has notified its end.
    bool hasFinished() const;
    // Under the monitor: the result of run(), 0 until it has finished.
    long getResult() const;

private:
    ProcessMonitor(const ProcessMonitor&);
    ProcessMonitor& operator=(const ProcessMonitor&);
    void notify(const char* failureText);

    ProcessController* controller;
    KorrThreadSync* monitor;
    ServiceLog* serviceLog;
    bool stopRequested;
    bool started;
    bool finished;
    long result;
};

#endif
