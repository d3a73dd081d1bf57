// The frame of one call from native code into Java on an arbitrary thread: obtains the
// thread's environment (attaching the thread for the call only), keeps a Java exception
// that the thread already had pending out of the way and raises it again afterwards, and
// gives the call a local-reference frame of its own, so that neither the caller's native
// method nor a long-lived thread accumulates references.
#ifndef OSTARA_JAVAUPCALL_H
#define OSTARA_JAVAUPCALL_H

#include <jni.h>

class RasDescriptor;

class JavaUpcall
{
public:
    // Throws KorrException (ZRKNV0169, ZRKNV0170) when no environment can be obtained, or
    // ZRKNV0170 when the local frame cannot be made.
    JavaUpcall(JavaVM* vm, int localReferences);
    ~JavaUpcall();

    JNIEnv* getEnv() const { return env; }

    // What a Java-side log handler holds on to: the virtual machine, java.lang.String and
    // its own Java class. bindHandler fills them from the creating thread's environment and
    // records a first-failure report (probes 1 to 4, as `method` of `handler`) for each one
    // missing; it returns whether all three are there.
    struct HandlerBinding {
        JavaVM* vm = nullptr;
        jclass stringClass = nullptr;
        jclass handlerClass = nullptr;
    };
    static bool bindHandler(JNIEnv* env, const RasDescriptor& rd, const void* handler, const char* method,
                            const char* javaClass, HandlerBinding& binding);

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
