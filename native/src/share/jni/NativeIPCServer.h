// The native methods of the Java class com.quillon.velbrix.ipc.impl.NativeIPCServer: an IPC
// server whose requests go to the calling Java object's onMessage(byte[]), held by Java as
// a long handle until it shuts it down.
#ifndef OSTARA_NATIVEIPCSERVER_H
#define OSTARA_NATIVEIPCSERVER_H

#include <jni.h>

extern "C" {
JNIEXPORT jlong JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCServer_initialize(JNIEnv*, jobject, jstring, jstring,
                                                                                    jint, jstring);
JNIEXPORT void JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCServer_shutdown(JNIEnv*, jobject, jlong);
}

#endif
