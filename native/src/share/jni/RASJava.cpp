// The Java process's form of RAS::initialize, kept beside the Java bindings so that RAS.cpp
// and every header that the rest of the system includes stay free of jni.h.
#include "RAS.h"

#include "JavaEventLogHandler.h"
#include "JavaTraceFileLogHandler.h"

void RAS::initialize(const RASEnvironment& environment, JNIEnv* env, const std::string& traceSpecNamePrefix,
                     std::string logPath)
{
    // A call that is ignored (a second one outside unit tests) deletes the handlers again.
    install(environment, new JavaEventLogHandler(env), nullptr, new JavaTraceFileLogHandler(env), traceSpecNamePrefix,
            &logPath);
}
