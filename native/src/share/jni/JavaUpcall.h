// The frame of one call from native code into Java on an arbitrary thread: obtains the
// thread's environment (attaching the thread for the call only), keeps a Java exception
// that the thread already had pending out of the way and raises it again afterwards, and
// gives the call a local-reference frame of its own, so that neither the caller's native
// method nor a long-lived thread accumulates references.
#ifndef OSTARA_JAVAUPCALL_H
#define OSTARA_JAVAUPCALL_H

#include <jni.h>

class JavaUpcall
{
public:
    // Throws KorrException (ZRKNV0169, ZRKNV0170) when no environment can be obtained, or
    // ZRKNV0170 when the local frame cannot be made.
    JavaUpcall(JavaVM* vm, int localReferences);
    ~JavaUpcall();

    JNIEnv* getEnv() const { return env; }

    // Deletes a handler's global references (null ones are skipped) on whatever thread
    // destroys it; does nothing once the virtual machine has gone.
    static void releaseGlobalRefs(JavaVM* vm, jobject first, jobject second);

private:
    JavaUpcall(const JavaUpcall&);
    JavaUpcall& operator=(const JavaUpcall&);

    JavaVM* vm;
    JNIEnv* env;
    bool attached;
    jthrowable pending;   // a local reference in the caller's frame, or null
};

#endif
