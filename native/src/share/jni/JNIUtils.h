// Obtains the JNI environment of the calling thread, attaching a native thread to the
// virtual machine when it is not attached yet. Whoever attached a thread detaches it again
// (detach) before the thread can end: a thread that ends while attached keeps the virtual
// machine from exiting.
#ifndef OSTARA_JNIUTILS_H
#define OSTARA_JNIUTILS_H

#include <jni.h>

class JNIUtils
{
public:
    // True when this call attached the thread. A null vm throws KorrException ZRKNV0169; an
    // attach that fails sets *out to null and throws KorrException ZRKNV0170.
    static bool getJNIEnv(JavaVM* vm, JNIEnv** out);
    // Detaches the calling thread; for threads that getJNIEnv attached.
    static void detach(JavaVM* vm);

private:
    JNIUtils();
};

#endif
