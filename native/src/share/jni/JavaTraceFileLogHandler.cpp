#include "JavaTraceFileLogHandler.h"

#include <cstdint>

#include "FFDC.h"
#include "JNIEnvWrapper.h"
#include "JavaUpcall.h"
#include "KorrException.h"
#include "LogRecord.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"

namespace {

const RasDescriptorSlot rdSlot("JavaTraceFileLogHandler", nullptr);

const RasDescriptor& rd() { return rdSlot.get(); }

// Set while this thread publishes: a report made from inside publish must not come back.
thread_local bool publishing = false;

} // namespace

JavaTraceFileLogHandler::JavaTraceFileLogHandler(JNIEnv* env)
    : LogHandler(LogLevel::ALL), vm(nullptr), stringClass(nullptr), traceClass(nullptr), entryMethod(nullptr),
      exitMethod(nullptr), exitNoValueMethod(nullptr), dataMethod(nullptr), throwingMethod(nullptr)
{
    const char* const METHOD = "JavaTraceFileLogHandler";
    JavaUpcall::HandlerBinding binding;
    bool bound = JavaUpcall::bindHandler(env, rd(), this, METHOD, "com/quillon/velbrix/ras/Trace", binding);
    vm = binding.vm;
    stringClass = binding.stringClass;
    traceClass = binding.handlerClass;
    if (!bound) {
        return;
    }
    JNIEnvWrapper jni(env);
    struct Lookup {
        const char* name;
        const char* signature;
        jmethodID* id;
        std::string (*probe)();
        const char* failure;
    } lookups[] = {
        {"nativeMethodEntry", "(Ljava/lang/String;JLjava/lang/String;[Ljava/lang/String;)V", &entryMethod,
         FFDC::PROBE_005, "com.quillon.velbrix.ras.Trace.entry method not available"},
        {"nativeMethodExit", "(Ljava/lang/String;JLjava/lang/String;Ljava/lang/String;)V", &exitMethod,
         FFDC::PROBE_006, "com.quillon.velbrix.ras.Trace.exit method not available"},
        {"nativeMethodExit", "(Ljava/lang/String;JLjava/lang/String;)V", &exitNoValueMethod, FFDC::PROBE_007,
         "com.quillon.velbrix.ras.Trace.exit (with no return) method not available"},
        {"nativeMethodData", "(Ljava/lang/String;Ljava/lang/String;JLjava/lang/String;[Ljava/lang/String;)V",
         &dataMethod, FFDC::PROBE_008, "com.quillon.velbrix.ras.Trace.data method not available"},
        {"nativeMethodThrowing", "(Ljava/lang/String;JLjava/lang/String;Ljava/lang/String;)V", &throwingMethod,
         FFDC::PROBE_009, "com.quillon.velbrix.ras.Trace.throwing method not available"},
    };
    for (const Lookup& l : lookups) {
        *l.id = jni.GetStaticMethodID(traceClass, l.name, l.signature);
        if (*l.id == nullptr) {
            jni.ExceptionClear();
            FFDC::capture(rd(), this, METHOD, l.probe(), nullptr, 1, l.failure);
        }
    }
}

JavaTraceFileLogHandler::~JavaTraceFileLogHandler()
{
    JavaUpcall::releaseGlobalRefs(vm, stringClass, traceClass);
}

// The record's arguments as a String[], each element's local reference released once
// stored; null (with an exception pending) when the virtual machine could not make it.
jobjectArray JavaTraceFileLogHandler::argumentArray(JNIEnv* env, const LogRecord& record)
{
    JNIEnvWrapper jni(env);
    jsize count = static_cast<jsize>(record.getNumArguments());
    jobjectArray array = jni.NewObjectArray(count, stringClass, nullptr);
    for (jsize i = 0; array != nullptr && i < count; ++i) {
        jstring value = jni.newString(record.getArgument(static_cast<unsigned int>(i)));
        if (value == nullptr) {
            jni.DeleteLocalRef(array);
            return nullptr;
        }
        jni.SetObjectArrayElement(array, i, value);
        jni.DeleteLocalRef(value);
    }
    return array;
}

void JavaTraceFileLogHandler::publish(LogRecord& record)
{
    int type = record.getType().getValue();
    if (type == LogRecordType::EVENT || traceClass == nullptr || publishing) {
        return;
    }
    publishing = true;
    try {
        JavaUpcall call(vm, 8);
        JNIEnv* env = call.getEnv();
        JNIEnvWrapper jni(env);
        jlong object = static_cast<jlong>(reinterpret_cast<std::intptr_t>(record.getObjectReference()));
        jstring className = jni.newString(record.getSourceClassName());
        jstring method = jni.newString(record.getSourceMethodName() + "(Native Method)");
        jobject extra = nullptr;   // the references each kind makes beyond these two
        jstring levelText = nullptr;
        if (className && method) {
            switch (type) {
            case LogRecordType::ENTRY:
                if (entryMethod && (extra = argumentArray(env, record)) != nullptr) {
                    jni.CallStaticVoidMethod(traceClass, entryMethod, className, object, method, extra);
                }
                break;
            case LogRecordType::EXIT:
                if (record.getNumArguments() > 0 && exitMethod) {
                    extra = jni.newString(record.getArgument(0) + " (type: " + record.getMethodReturnType() + ")");
                    if (extra) {
                        jni.CallStaticVoidMethod(traceClass, exitMethod, className, object, method, extra);
                    }
                } else if (record.getNumArguments() == 0 && exitNoValueMethod) {
                    jni.CallStaticVoidMethod(traceClass, exitNoValueMethod, className, object, method);
                }
                break;
            case LogRecordType::DATA:
                if (dataMethod) {
                    levelText = jni.newString(record.getLogLevel().toString());
                    extra = levelText ? argumentArray(env, record) : nullptr;
                    if (extra) {
                        jni.CallStaticVoidMethod(traceClass, dataMethod, className, levelText, object, method, extra);
                    }
                }
                break;
            case LogRecordType::THROWING:
                if (throwingMethod) {
                    const KorrException* thrown = record.getThrown();
                    extra = jni.newString(thrown ? thrown->toString() : std::string("Unknown Throwable"));
                    if (extra) {
                        jni.CallStaticVoidMethod(traceClass, throwingMethod, className, object, method, extra);
                    }
                }
                break;
            default:
                FFDC::capture(rd(), this, "publish", FFDC::PROBE_010(), nullptr, 1, "unexpected record type");
                break;
            }
        }
        if (jni.ExceptionCheck()) {
            jni.ExceptionDescribe();
            jni.ExceptionClear();
            FFDC::capture(rd(), this, "publish", FFDC::PROBE_011(), nullptr, 2,
                          "calling Java method failed with an exception", "Exception traceback written to stderr");
        }
        jni.DeleteLocalRef(levelText);
        jni.DeleteLocalRef(extra);
        jni.DeleteLocalRef(method);
        jni.DeleteLocalRef(className);
    } catch (const KorrException& e) {
        FFDC::capture(rd(), this, "publish", FFDC::PROBE_012(), &e);
    }
    publishing = false;
}
