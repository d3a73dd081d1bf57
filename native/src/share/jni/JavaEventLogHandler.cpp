#include "JavaEventLogHandler.h"

#include "FFDC.h"
#include "JNIEnvWrapper.h"
#include "JNIUtils.h"
#include "JavaUpcall.h"
#include "KorrException.h"
#include "LogRecord.h"
#include "RasDescriptor.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d = new RasDescriptor("JavaEventLogHandler", static_cast<Logger*>(nullptr));
    return *d;
}

const char* const SIGNATURE = "(Ljava/lang/String;Ljava/lang/String;)V";

// Set while this thread publishes: a report made from inside publish must not come back.
thread_local bool publishing = false;

jclass globalClass(JNIEnvWrapper& jni, const char* name)
{
    jclass local = jni.FindClass(name);
    if (local == nullptr) {
        jni.ExceptionClear();
        return nullptr;
    }
    jclass global = static_cast<jclass>(jni.NewGlobalRef(local));
    jni.DeleteLocalRef(local);
    return global;
}

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
    if (env == nullptr) {
        FFDC::capture(rd(), this, METHOD, FFDC::PROBE_001(), nullptr, 1, "JNI environment not available");
        return;
    }
    JNIEnvWrapper jni(env);
    if (jni.GetJavaVM(&vm) != JNI_OK) {
        vm = nullptr;
        FFDC::capture(rd(), this, METHOD, FFDC::PROBE_002(), nullptr, 1, "GetJavaVM failed");
        return;
    }
    stringClass = globalClass(jni, "java/lang/String");
    if (stringClass == nullptr) {
        FFDC::capture(rd(), this, METHOD, FFDC::PROBE_003(), nullptr, 1, "java.lang.String class not available");
    }
    eventLogClass = globalClass(jni, "com/quillon/velbrix/ras/EventLog");
    if (eventLogClass == nullptr) {
        FFDC::capture(rd(), this, METHOD, FFDC::PROBE_004(), nullptr, 1,
                      "com.quillon.velbrix.ras.EventLog class not available");
        return;
    }
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
