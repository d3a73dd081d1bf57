#include "ProcessMonitor.h"

#include <exception>
#include <string>

#include "KorrException.h"
#include "KorrThreadSync.h"
#include "ProcessController.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "ServiceLog.h"
#include "Synchronize.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("ProcessMonitor", "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

} // namespace

ProcessMonitor::ProcessMonitor(ProcessController* c, KorrThreadSync* m, ServiceLog* log)
    : controller(c), monitor(m), serviceLog(log), stopRequested(false), started(false), finished(false), result(0)
{
}

// Called with the monitor held.
void ProcessMonitor::notify(const char* failureText)
{
    try {
        monitor->notifyAll();
    } catch (const KorrException& e) {
        serviceLog->log(failureText + e.getMessage());
    }
}

long ProcessMonitor::run()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "run", 0);
    }
    // Whatever initialize() lets out, the service thread must still hear that it has ended.
    long code = 70;
    try {
        code = controller->initialize();
    } catch (const KorrException& e) {
        serviceLog->log("ProcessController failed to initialise, error: " + e.getMessage());
    } catch (const std::exception& e) {
        // Out of memory, say: the service ends with a reason instead of aborting without one.
        serviceLog->log(std::string("ProcessController failed to initialise, error: ") + e.what());
    }
    bool go;
    {
        Synchronize hold(monitor);
        go = code == 0 && !stopRequested;
        started = go;
        notify("Failed to notify that ProcessController is initialised, error: ");
    }
    if (go) {
        code = controller->run();
    }
    {
        Synchronize hold(monitor);
        finished = true;
        result = code;
        notify("Failed to notify that ProcessController run is completed, error: ");
    }
    if (rd().isFlowOn()) {
        std::string text = std::to_string(code);
        Trace::traceMethodExit(rd(), this, "run", &text, "long");
    }
    return code;
}

void ProcessMonitor::requestStop()
{
    Synchronize hold(monitor);
    stopRequested = true;
}

bool ProcessMonitor::hasStarted() const
{
    Synchronize hold(monitor);
    return started;
}

bool ProcessMonitor::hasFinished() const
{
    Synchronize hold(monitor);
    return finished;
}

long ProcessMonitor::getResult() const
{
    Synchronize hold(monitor);
    return result;
}
