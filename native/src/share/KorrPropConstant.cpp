#include "KorrPropConstant.h"

namespace {
const int32_t MAX = 2147483647;
// Every generation of the event log and trace is looked at when they rotate: a count in
// the millions would hold the controller for hours, and its names would not fit in memory.
const int32_t MAX_LOG_FILES = 1000;
}

std::atomic<KorrPropConstant*> KorrPropConstant::impl(nullptr);

KorrPropConstant::KorrPropConstant()
    : agentQMgr("agentQMgr"),
      agentQMgrHost("agentQMgrHost"),
      agentQMgrRetryInterval("agentQMgrRetryInterval", 30, 0, MAX),
      velbrixQueueManager("velbrix.queue.manager"),
      loggerQMgrRetryInterval("loggerQMgrRetryInterval", 30, 0, MAX),
      velbrixQueueManagerHost("velbrix.queue.manager.host"),
      outputLogFiles("outputLogFiles", 5, 1, MAX_LOG_FILES),
      outputLogSize("outputLogSize", 1, 1, MAX),
      applicationOutputLogSize("applicationOutputLogSize", 10, 1, MAX),
      applicationOutputLogFiles("applicationOutputLogFiles", 5, 1, 100),
      trace("trace"),
      traceFiles("traceFiles", 5, 1, MAX_LOG_FILES),
      traceSize("traceSize", 20, 1, MAX),
      adminGroup("adminGroup"),
      maxRestartCount("maxRestartCount", 4, 0, MAX),
      maxRestartInterval("maxRestartInterval", 120, 0, MAX),
      maxRestartDelay("maxRestartDelay", -1),
      processControllerStatus("processControllerStatus", true),
      lastApplicationExitCode("lastApplicationExitCode", 0),
      queueManagerStatus("queueManagerStatus", true),
      queueManagerLastError("queueManagerLastError", 0),
      currentApplicationRestartCount("currentApplicationRestartCount", 0),
      totalApplicationRestartCount("totalApplicationRestartCount", 0)
{
}

KorrPropConstant::KorrPropConstant(const KorrPropConstant& o)
    : agentQMgr(o.agentQMgr),
      agentQMgrHost(o.agentQMgrHost),
      agentQMgrRetryInterval(o.agentQMgrRetryInterval),
      velbrixQueueManager(o.velbrixQueueManager),
      loggerQMgrRetryInterval(o.loggerQMgrRetryInterval),
      velbrixQueueManagerHost(o.velbrixQueueManagerHost),
      outputLogFiles(o.outputLogFiles),
      outputLogSize(o.outputLogSize),
      applicationOutputLogSize(o.applicationOutputLogSize),
      applicationOutputLogFiles(o.applicationOutputLogFiles),
      trace(o.trace),
      traceFiles(o.traceFiles),
      traceSize(o.traceSize),
      adminGroup(o.adminGroup),
      maxRestartCount(o.maxRestartCount),
      maxRestartInterval(o.maxRestartInterval),
      maxRestartDelay(o.maxRestartDelay),
      processControllerStatus(o.processControllerStatus),
      lastApplicationExitCode(o.lastApplicationExitCode),
      queueManagerStatus(o.queueManagerStatus),
      queueManagerLastError(o.queueManagerLastError),
      currentApplicationRestartCount(o.currentApplicationRestartCount),
      totalApplicationRestartCount(o.totalApplicationRestartCount)
{
}

KorrPropConstant::~KorrPropConstant() {}

// Never called: the items are constant.
KorrPropConstant& KorrPropConstant::operator=(const KorrPropConstant&) { return *this; }

// Two threads making the first call at once both build one; the loser's is dropped.
const KorrPropConstant& KorrPropConstant::getInstance()
{
    KorrPropConstant* current = impl.load(std::memory_order_acquire);
    if (current) {
        return *current;
    }
    KorrPropConstant* made = new KorrPropConstant();
    if (impl.compare_exchange_strong(current, made, std::memory_order_acq_rel)) {
        return *made;
    }
    delete made;
    return *current;
}

void KorrPropConstant::deleteInstance() { delete impl.exchange(nullptr, std::memory_order_acq_rel); }
