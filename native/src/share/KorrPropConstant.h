// The one catalogue of the properties the native side understands: an item per key with its
// type, default and range. Code passes these items to NativeProperties and never spells a key
// itself. A process-wide instance, made on first use and dropped by deleteInstance().
#ifndef OSTARA_KORRPROPCONSTANT_H
#define OSTARA_KORRPROPCONSTANT_H

#include <atomic>

#include "NativePropertyItem.h"

class KorrPropConstant
{
public:
    static const KorrPropConstant& getInstance();
    // A later getInstance() makes a fresh instance. No reader may hold the old one.
    static void deleteInstance();
    KorrPropConstant(const KorrPropConstant& other);

    // Keys of the agent's or logger's properties file.
    const NativePropertyItem agentQMgr;
    const NativePropertyItem agentQMgrHost;
    const NativePropertyItem agentQMgrRetryInterval;
    const NativePropertyItem velbrixQueueManager;
    const NativePropertyItem loggerQMgrRetryInterval;
    const NativePropertyItem velbrixQueueManagerHost;
    const NativePropertyItem outputLogFiles;
    const NativePropertyItem outputLogSize;
    // The supervised application's stdout.log and stderr.log: megabytes each, generations kept.
    const NativePropertyItem applicationOutputLogSize;
    const NativePropertyItem applicationOutputLogFiles;
    const NativePropertyItem trace;
    const NativePropertyItem traceFiles;
    const NativePropertyItem traceSize;
    const NativePropertyItem adminGroup;
    const NativePropertyItem maxRestartCount;
    const NativePropertyItem maxRestartInterval;
    const NativePropertyItem maxRestartDelay;
    // Keys of the controller's status report.
    const NativePropertyItem processControllerStatus;
    const NativePropertyItem lastApplicationExitCode;
    const NativePropertyItem queueManagerStatus;
    const NativePropertyItem queueManagerLastError;
    const NativePropertyItem currentApplicationRestartCount;
    const NativePropertyItem totalApplicationRestartCount;

private:
    KorrPropConstant();
    virtual ~KorrPropConstant();
    KorrPropConstant& operator=(const KorrPropConstant&);

    static std::atomic<KorrPropConstant*> impl;
};

#endif
