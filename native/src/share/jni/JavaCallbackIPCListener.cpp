#include "JavaCallbackIPCListener.h"

#include <string>

#include "FFDC.h"
#include "JNIEnvWrapper.h"
#include "JNIUtils.h"
#include "KorrException.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("JavaCallbackIPCListener", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

// Deletes the global reference from whatever thread lets go of the last copy.
void releaseGlobal(JavaVM* vm, jobject ref)
{
    JNIEnv* env = nullptr;
    try {
        bool attached = JNIUtils::getJNIEnv(vm, &env);
        env->DeleteGlobalRef(ref);
        if (attached) {
            JNIUtils::detach(vm);
        }
    } catch (const KorrException&) {
        // The virtual machine has gone, and the reference with it.
    }
}

} // namespace

JavaCallbackIPCListener::JavaCallbackIPCListener(JNIEnv* env, jobject object) : vm(nullptr), onMessageMethod(nullptr)
{
    if (rd().isFlowOn()) {
        std::string o = Trace::pointerText(object);
        Trace::traceMethodEntry(rd(), this, "JavaCallbackIPCListener", 1, o.c_str());
    }
    if (env == nullptr) {
        FFDC::capture(rd(), this, "JavaCallbackIPCListener", FFDC::PROBE_001(), nullptr, 1,
                      "JNI environment not available");
    } else {
        JNIEnvWrapper jni(env);
        jint rc = jni.GetJavaVM(&vm);
        if (rc != JNI_OK) {
            vm = nullptr;
            std::string code = std::to_string(rc);
            FFDC::capture(rd(), this, "JavaCallbackIPCListener", FFDC::PROBE_002(), nullptr, 2, "GetJavaVM failed",
                          code.c_str());
        } else {
            JavaVM* owner = vm;
            target.reset(jni.NewGlobalRef(object), [owner](jobject ref) { releaseGlobal(owner, ref); });
            jclass clazz = jni.GetObjectClass(object);
            onMessageMethod = jni.GetMethodID(clazz, "onMessage", "([B)[B");
            jni.DeleteLocalRef(clazz);
            if (onMessageMethod == nullptr) {
                jni.ExceptionClear();   // NoSuchMethodError: the caller raises its own exception
                KorrException e(NLS::format(rd(), "ZRKNV0069_UNKNOWN_JAVA_METHOD",
                                            "byte [] com.quillon.velbrix.ipc.IPCServer.onMessage(byte [])"));
                FFDC::capture(rd(), this, "JavaCallbackIPCListener", FFDC::PROBE_003(), &e);
                target.reset();
                if (rd().isFlowOn()) {
                    Trace::traceMethodThrowing(rd(), this, "JavaCallbackIPCListener", &e);
                }
                throw e;
            }
        }
    }
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), this, "JavaCallbackIPCListener", nullptr, "");
    }
}

JavaCallbackIPCListener::~JavaCallbackIPCListener() {}

IPCMessage JavaCallbackIPCListener::onMessage(const IPCMessage& request)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "onMessage", 1, request.getMessageText().c_str());
    }
    long id = request.getMessageId();
    JNIEnv* env = nullptr;
    bool attached = false;
    try {
        attached = JNIUtils::getJNIEnv(vm, &env);
    } catch (const KorrException& e) {
        FFDC::capture(rd(), this, "onMessage", FFDC::PROBE_004(), &e);
        IPCMessage reply(id, IPCMessage::STATUS_EXCEPTION, e.getMessage());
        if (rd().isFlowOn()) {
            std::string status = std::to_string(reply.getMessageStatus());
            Trace::traceMethodExit(rd(), this, "onMessage", &status, "IPCMessage");
        }
        return reply;
    }
    JNIEnvWrapper jni(env);
    bool failed = false;
    std::string text;
    jbyteArray argument = jni.newByteArray(request.getMessageText());
    jbyteArray result = nullptr;
    if (argument != nullptr) {
        result = static_cast<jbyteArray>(jni.CallObjectMethod(target.get(), onMessageMethod, argument));
    }
    if (jni.ExceptionCheck()) {
        failed = true;
        if (rd().isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "onMessage", 1,
                                   "Exception caught invoking Java callback. See system err for Java stack trace.");
        }
        jni.ExceptionDescribe();
        jni.ExceptionClear();
    } else {
        text = jni.getBytes(result);
    }
    jni.DeleteLocalRef(argument);
    jni.DeleteLocalRef(result);
    if (attached) {
        JNIUtils::detach(vm);
    }
    IPCMessage reply = failed ? IPCMessage(id, IPCMessage::STATUS_EXCEPTION,
                                           NLS::format(rd(), "ZRKNV0070_JAVA_EXCEPTION_THROWN"))
                              : IPCMessage(id, IPCMessage::STATUS_SUCCESS, text);
    if (rd().isFlowOn()) {
        std::string status = std::to_string(reply.getMessageStatus());
        Trace::traceMethodExit(rd(), this, "onMessage", &status, "IPCMessage");
    }
    return reply;
}
