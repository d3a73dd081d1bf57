#include "JNIUtils.h"

#include "KorrException.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {
// A debug descriptor: the trace handler itself obtains environments through this class.
const RasDescriptorSlot rdSlot("JNIUtils", nullptr);

const RasDescriptor& rd() { return rdSlot.get(); }

const char* const MESSAGES = "com.quillon.velbrix.nativ.common.ZRKNVMessages";
const char* const ATTACHED_THREAD_NAME = "ostara native thread";
} // namespace

bool JNIUtils::getJNIEnv(JavaVM* vm, JNIEnv** out)
{
    if (vm == nullptr) {
        KorrException e(NLS::format(MESSAGES, "ZRKNV0169_INVALID_JVM_POINTER"));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "getJNIEnv", &e);
        }
        throw e;
    }
    void* env = nullptr;
    jint rc = vm->GetEnv(&env, JNI_VERSION_1_2);
    if (rc == JNI_OK) {
        *out = static_cast<JNIEnv*>(env);
        return false;
    }
    // Named, so that a thread dump shows where the thread comes from.
    JavaVMAttachArgs args = {JNI_VERSION_1_2, const_cast<char*>(ATTACHED_THREAD_NAME), nullptr};
    if (rc == JNI_EDETACHED && vm->AttachCurrentThread(&env, &args) == JNI_OK) {
        *out = static_cast<JNIEnv*>(env);
        return true;
    }
    *out = nullptr;
    KorrException e(NLS::format(MESSAGES, "ZRKNV0170_ATTACH_CURRENT_THREAD_FAILED"));
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), "getJNIEnv", &e);
    }
    throw e;
}

void JNIUtils::detach(JavaVM* vm)
{
    if (vm != nullptr) {
        vm->DetachCurrentThread();
    }
}
