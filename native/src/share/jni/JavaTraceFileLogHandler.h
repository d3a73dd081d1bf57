// In the Java process, hands native trace records (entry, exit, data, throwing) to the Java
// side's trace, com.quillon.velbrix.ras.Trace, which writes them beside the Java trace;
// methods appear as "name(Native Method)". Event records are not its business.
#ifndef OSTARA_JAVATRACEFILELOGHANDLER_H
#define OSTARA_JAVATRACEFILELOGHANDLER_H

#include <jni.h>

#include "LogHandler.h"

class JavaTraceFileLogHandler : public LogHandler
{
public:
    // Never throws: what cannot be found is a first-failure report, and publish then skips
    // the calls it would need.
    explicit JavaTraceFileLogHandler(JNIEnv* env);
    ~JavaTraceFileLogHandler() override;
    void publish(LogRecord& record) override;

private:
    jobjectArray argumentArray(JNIEnv* env, const LogRecord& record);

    JavaVM* vm;
    jclass stringClass;     // global references, or null
    jclass traceClass;
    jmethodID entryMethod;
    jmethodID exitMethod;
    jmethodID exitNoValueMethod;
    jmethodID dataMethod;
    jmethodID throwingMethod;
};

#endif
