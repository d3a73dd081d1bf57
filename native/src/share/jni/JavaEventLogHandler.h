// In the Java process, hands operator-facing messages (CONFIG and above) to the Java side's
// event log, com.quillon.velbrix.ras.EventLog, instead of writing a file of its own. Native
// threads that log are attached to the virtual machine for the call only.
#ifndef OSTARA_JAVAEVENTLOGHANDLER_H
#define OSTARA_JAVAEVENTLOGHANDLER_H

#include <jni.h>

#include "LogHandler.h"

class JavaEventLogHandler : public LogHandler
{
public:
    // Never throws: what cannot be found is a first-failure report, and publish then skips
    // the calls it would need.
    explicit JavaEventLogHandler(JNIEnv* env);
    ~JavaEventLogHandler() override;
    void publish(LogRecord& record) override;

private:
    JavaVM* vm;
    jclass stringClass;     // global references, or null
    jclass eventLogClass;
    jmethodID infoNoFormat;
    jmethodID warningNoFormat;
    jmethodID errorNoFormat;
    jmethodID configNoFormat;
};

#endif
