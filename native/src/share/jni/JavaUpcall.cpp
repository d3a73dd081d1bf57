#include "JavaUpcall.h"

#include <string>

#include "FFDC.h"
#include "JNIEnvWrapper.h"
#include "JNIUtils.h"
#include "KorrException.h"
#include "NLS.h"

JavaUpcall::JavaUpcall(JavaVM* v, int localReferences) : vm(v), env(nullptr), attached(false), pending(nullptr)
{
    attached = JNIUtils::getJNIEnv(vm, &env);
    // No JNI call other than these two may be made while an exception is pending.
    pending = env->ExceptionOccurred();
    if (pending) {
        env->ExceptionClear();
    }
    if (env->PushLocalFrame(localReferences) != 0) {
        env->ExceptionClear();
        if (pending) {
            env->Throw(pending);
            env->DeleteLocalRef(pending);
        }
        if (attached) {
            JNIUtils::detach(vm);
        }
        throw KorrException(NLS::format("com.quillon.velbrix.nativ.common.ZRKNVMessages",
                                        "ZRKNV0170_ATTACH_CURRENT_THREAD_FAILED"));
    }
}

JavaUpcall::~JavaUpcall()
{
    if (env->ExceptionCheck()) {
        env->ExceptionClear();   // the callee reports its own exceptions; none may leak out
    }
    env->PopLocalFrame(nullptr);
    if (pending) {
        env->Throw(pending);
        env->DeleteLocalRef(pending);
    }
    if (attached) {
        JNIUtils::detach(vm);
    }
}

void JavaUpcall::releaseGlobalRefs(JavaVM* vm, jobject first, jobject second)
{
    if (vm == nullptr || (first == nullptr && second == nullptr)) {
        return;
    }
    try {
        JavaUpcall call(vm, 1);
        for (jobject ref : {first, second}) {
            if (ref) {
                call.getEnv()->DeleteGlobalRef(ref);
            }
        }
    } catch (const KorrException&) {
        // The virtual machine has gone, and its references with it.
    }
}

namespace {

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

} // namespace

bool JavaUpcall::bindHandler(JNIEnv* env, const RasDescriptor& rd, const void* handler, const char* method,
                             const char* javaClass, HandlerBinding& binding)
{
    if (env == nullptr) {
        FFDC::capture(rd, handler, method, FFDC::PROBE_001(), nullptr, 1, "JNI environment not available");
        return false;
    }
    JNIEnvWrapper jni(env);
    if (jni.GetJavaVM(&binding.vm) != JNI_OK) {
        binding.vm = nullptr;
        FFDC::capture(rd, handler, method, FFDC::PROBE_002(), nullptr, 1, "GetJavaVM failed");
        return false;
    }
    binding.stringClass = globalClass(jni, "java/lang/String");
    if (binding.stringClass == nullptr) {
        FFDC::capture(rd, handler, method, FFDC::PROBE_003(), nullptr, 1, "java.lang.String class not available");
        return false;
    }
    binding.handlerClass = globalClass(jni, javaClass);
    if (binding.handlerClass == nullptr) {
        std::string dotted(javaClass);
        for (char& c : dotted) {
            c = c == '/' ? '.' : c;
        }
        std::string text = dotted + " class not available";
        FFDC::capture(rd, handler, method, FFDC::PROBE_004(), nullptr, 1, text.c_str());
        return false;
    }
    return true;
}
