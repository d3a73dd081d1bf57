#include "JavaUpcall.h"

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
