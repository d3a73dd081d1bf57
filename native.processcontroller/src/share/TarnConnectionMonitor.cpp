#include "TarnConnectionMonitor.h"

#include "ProcessControllerObserver.h"

#include "EventLog.h"
#include "KorrException.h"
#include "KorrPropConstant.h"
#include "KorrThreadSyncImpl.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Synchronize.h"
#include "Trace.h"
#include "Vantariface.h"

namespace {

const RasDescriptorSlot rdSlot("TarnConnectionMonitor", "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

const long NOT_AUTHORIZED = 2035;
const long MINIMUM_PAUSE_MS = 10;

void traceModerate(const char* method, const char* text)
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, nullptr, method, 1, text);
    }
}

// The value of a property that is present and not empty.
bool valueOf(const NativeProperties& properties, const NativePropertyItem& item, std::string& value)
{
    if (!properties.contains(item)) {
        return false;
    }
    value = properties.getPropertyAsString(item);
    return !value.empty();
}

} // namespace

TarnConnectionMonitor::TarnConnectionMonitor() : TarnConnectionMonitor(ownProperties, "") {}

TarnConnectionMonitor::TarnConnectionMonitor(NativeProperties& p, const std::string& root)
    : properties(p), stopRequested(false), monitor(new KorrThreadSyncImpl()), lastError(0),
      binding(Vantariface::newInstance()), productRoot(root), propertiesLoaded(false)
{
}

TarnConnectionMonitor::~TarnConnectionMonitor()
{
    delete monitor;
    try {
        binding->cleanup();
    } catch (const KorrException& e) {
        if (rd().isOn(TraceLevel::MODERATE)) {
            std::string text = e.toString();
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "~TarnConnectionMonitor", 1, text.c_str());
        }
    }
    delete binding;
}

bool TarnConnectionMonitor::wait()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "wait", 0);
    }
    const KorrPropConstant& keys = KorrPropConstant::getInstance();
    Synchronize hold(monitor);
    bool done = false;
    bool failureReported = false;
    bool nameChanged = true;
    std::string previousName;
    std::string name;
    long lastReason = 0;

    while (!stopRequested && !done) {
        if (propertiesLoaded) {
            properties.reloadProperties();
        }
        propertiesLoaded = true;

        std::string ignored;
        bool agentRemote = valueOf(properties, keys.agentQMgr, ignored) && valueOf(properties, keys.agentQMgrHost, ignored);
        if (agentRemote) {
            traceModerate("wait", "Agent queue manager host property defined. Agent will monitor it's connection to "
                                  "queue manager");
            done = true;
            break;
        }
        if (valueOf(properties, keys.velbrixQueueManager, ignored) &&
            valueOf(properties, keys.velbrixQueueManagerHost, ignored)) {
            traceModerate("wait", "Logger queue manager host property defined. Agent will monitor it's connection "
                                  "to queue manager");
            done = true;
            break;
        }

        const bool agent = properties.isAgentProperties();
        const NativePropertyItem& intervalItem =
            !properties.contains(keys.agentQMgr) && properties.contains(keys.loggerQMgrRetryInterval)
                ? keys.loggerQMgrRetryInterval
                : keys.agentQMgrRetryInterval;
        const long interval = properties.getPropertyAsInteger(intervalItem);
        const std::string intervalText = std::to_string(interval);
        const char* intervalName = agent ? "agentQMgrRetryInterval" : "loggerQMgrRetryInterval";

        name.clear();
        if (!valueOf(properties, keys.agentQMgr, name)) {
            valueOf(properties, keys.velbrixQueueManager, name);
        }
        if (name != previousName) {
            previousName = name;
            nameChanged = true;
        }

        if (!name.empty()) {
            binding->initialize(productRoot);
            long completion = 0;
            long reason = 0;
            binding->connect(name, &completion, &reason);
            lastReason = reason;
            if (completion == 0) {
                state = TarnConnectionState(TarnConnectionState::AVAILABLE);
                long ignoredCompletion = 0;
                long ignoredReason = 0;
                binding->disconnect(&ignoredCompletion, &ignoredReason);
                done = true;
                break;
            }
            if (reason == NOT_AUTHORIZED) {
                state = TarnConnectionState(TarnConnectionState::AVAILABLE_AUTHORISATION_REQUIRED);
                done = true;
                break;
            }
            bool newProblem = reason != lastError || nameChanged;
            lastError = static_cast<int>(reason);
            if (newProblem) {
                nameChanged = false;
                failureReported = true;
                EventLog::warningNoFormat(rd(), NLS::format(rd(), "ZRKPC0029_UNABLE_CONNECT_QMGR", name,
                                                            std::to_string(reason), intervalText, intervalName));
                if (observer) {
                    observer->stateChanged("waiting for queue manager " + name + " (reason code " +
                                           std::to_string(reason) + ")");
                }
            }
        } else if (nameChanged) {
            nameChanged = false;
            failureReported = true;
            EventLog::warningNoFormat(rd(), NLS::format(rd(), "ZRKPC0030_NO_QMGR",
                                                        agent ? "agentQMgr" : "velbrix.queue.manager", intervalText,
                                                        intervalName));
            if (observer) {
                observer->stateChanged(std::string("waiting for a queue manager name (") +
                                       (agent ? "agentQMgr" : "velbrix.queue.manager") + " is not set)");
            }
        }

        state = TarnConnectionState(TarnConnectionState::UNAVAILABLE);
        // stop() and wakeup() end the wait early. Even an interval of 0 pauses briefly, so
        // that the monitor is released and a stop or a status request can get in.
        monitor->wait(interval > 0 ? interval * 1000L : MINIMUM_PAUSE_MS);
    }

    if (done && failureReported) {
        std::string ignored;
        const char* key = "ZRKPC0034_QMGR_BINDING_CONNECT";
        if (valueOf(properties, keys.agentQMgr, ignored) && valueOf(properties, keys.agentQMgrHost, ignored)) {
            key = "ZRKPC0033_QMGR_CLIENT";
        } else if (lastReason == NOT_AUTHORIZED) {
            key = "ZRKPC0051_CONNECT_NOT_AUTHORIZED";
        }
        EventLog::infoNoFormat(rd(), NLS::format(rd(), key, name));
    }
    bool result = !stopRequested;
    if (rd().isFlowOn()) {
        std::string text = result ? "true" : "false";
        Trace::traceMethodExit(rd(), this, "wait", &text, "bool");
    }
    return result;
}

void TarnConnectionMonitor::wakeup() const
{
    Synchronize hold(monitor);
    monitor->notifyAll();
}

void TarnConnectionMonitor::stop()
{
    Synchronize hold(monitor);
    stopRequested = true;
    monitor->notifyAll();
}

TarnConnectionState TarnConnectionMonitor::getState() const
{
    Synchronize hold(monitor);
    return state;
}

int TarnConnectionMonitor::getLastError() const
{
    Synchronize hold(monitor);
    return lastError;
}
