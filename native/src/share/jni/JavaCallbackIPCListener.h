// Hands each request of a native IPC server to a Java object's onMessage(byte[]) and its
// returned bytes back as the reply. Called on the server's connection threads, each attached
// to the virtual machine for the call only. Copies share the Java object, which is released
// once the last copy is gone.
#ifndef OSTARA_JAVACALLBACKIPCLISTENER_H
#define OSTARA_JAVACALLBACKIPCLISTENER_H

#include <jni.h>

#include <memory>

#include "IPCListener.h"

class JavaCallbackIPCListener : public IPCListener
{
public:
    // Throws KorrException ZRKNV0069 when the object has no onMessage(byte[]) returning byte[].
    // Without an environment or virtual machine it is made, and answers every request with
    // an error reply.
    JavaCallbackIPCListener(JNIEnv* env, jobject target);
    JavaCallbackIPCListener(const JavaCallbackIPCListener& other) = default;
    ~JavaCallbackIPCListener() override;

    IPCMessage onMessage(const IPCMessage& request) override;

private:
    JavaCallbackIPCListener& operator=(const JavaCallbackIPCListener&);

    JavaVM* vm;                        // null when it was not obtained
    std::shared_ptr<_jobject> target;  // the global reference
    jmethodID onMessageMethod;
};

#endif
