#include "JavaEventLogHandler.h"

#include "FFDC.h"
#include "JNIEnvWrapper.h"
#include "JNIUtils.h"
#include "JavaUpcall.h"
#include "KorrException.h"
#include "LogRecord.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"

namespace {

const RasDescriptorSlot rdSlot("JavaEventLogHandler", nullptr);

const RasDescriptor& rd() { return rdSlot.get(); }

const char* const SIGNATURE = "(Ljava/lang/String;Ljava/lang/String;)V";

// Set while this thread publishes: a report made from inside publish must not come back.
thread_local bool publishing = false;

jmethodID staticMethod(JNIEnvWrapper& jni, jclass clazz, const char* name, const char* signature)
{
    jmethodID id = jni.GetStaticMethodID(clazz, name, signature);
    if (id == nullptr) {
        jni.ExceptionClear();
    }
    return id;
}

} // namespace

JavaEventLogHandler::JavaEventLogHandler(JNIEnv* env)
    : LogHandler(LogLevel::CONFIG), vm(nullptr), stringClass(nullptr), eventLogClass(nullptr),
      infoNoFormat(nullptr), warningNoFormat(nullptr), errorNoFormat(nullptr), configNoFormat(nullptr)
{
    const char* const METHOD = "JavaEventLogHandler";
    JavaUpcall::HandlerBinding binding;
    bool bound = JavaUpcall::bindHandler(env, rd(), this, METHOD, "com/quillon/velbrix/ras/EventLog", binding);
    vm = binding.vm;
    stringClass = binding.stringClass;
    eventLogClass = binding.handlerClass;
    if (!bound) {
        return;
    }
    JNIEnvWrapper jni(env);
    struct Lookup {
        const char* name;
        jmethodID* id;
        std::string (*probe)();
        const char* failure;
    } lookups[] = {
        {"infoNoFormat", &infoNoFormat, FFDC::PROBE_005,
         "com.quillon.velbrix.ras.EventLog.infoNoFormat method not available"},
        {"warningNoFormat", &warningNoFormat, FFDC::PROBE_006,
         "com.quillon.velbrix.ras.EventLog.warningNoFormat method not available"},
        {"errorNoFormat", &errorNoFormat, FFDC::PROBE_007,
         "com.quillon.velbrix.ras.EventLog.errorNoFormat method not available"},
        {"configNoFormat", &configNoFormat, FFDC::PROBE_008,
         "com.quillon.velbrix.ras.EventLog.configNoFormat method not available"},
    };
    for (const Lookup& l : lookups) {
        *l.id = staticMethod(jni, eventLogClass, l.name, SIGNATURE);
        if (*l.id == nullptr) {
            FFDC::capture(rd(), this, METHOD, l.probe(), nullptr, 1, l.failure);
        }
    }
}

JavaEventLogHandler::~JavaEventLogHandler()
{
    JavaUpcall::releaseGlobalRefs(vm, stringClass, eventLogClass);
}

void JavaEventLogHandler::publish(LogRecord& record)
{
    if (!(record.getLogLevel() >= level) || eventLogClass == nullptr || publishing) {
        return;
    }
    jmethodID method = errorNoFormat;
    bool unexpectedLevel = false;
    switch (record.getLogLevel().getValue()) {
    case LogLevel::INFO: method = infoNoFormat; break;
    case LogLevel::WARNING: method = warningNoFormat; break;
    case LogLevel::SEVERE: method = errorNoFormat; break;
    case LogLevel::CONFIG: method = configNoFormat; break;
    default: unexpectedLevel = true; break;
    }
    publishing = true;
    if (unexpectedLevel) {
        FFDC::capture(rd(), this, "publish", FFDC::PROBE_009(), nullptr, 1, "unexpected log level");
    }
    if (method != nullptr) {
        try {
            JavaUpcall call(vm, 4);
            JNIEnvWrapper jni(call.getEnv());
            jstring className = jni.newString(record.getSourceClassName());
            jstring message = className ? jni.newString(record.getMessage()) : nullptr;
            if (message) {
                jni.CallStaticVoidMethod(eventLogClass, method, className, message);
            }
            if (jni.ExceptionCheck()) {
                jni.ExceptionDescribe();
                jni.ExceptionClear();
                FFDC::capture(rd(), this, "publish", FFDC::PROBE_010(), nullptr, 2,
                              "calling Java method failed with an exception", "Exception traceback written to stderr");
            }
            jni.DeleteLocalRef(message);
            jni.DeleteLocalRef(className);
        } catch (const KorrException& e) {
            FFDC::capture(rd(), this, "publish", FFDC::PROBE_011(), &e);
        }
    }
    publishing = false;
}
