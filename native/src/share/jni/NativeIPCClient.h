// The native methods of the Java class com.quillon.velbrix.ipc.impl.NativeIPCClient: an IPC
// client that Java holds as a long handle until it shuts it down.
#ifndef OSTARA_NATIVEIPCCLIENT_H
#define OSTARA_NATIVEIPCCLIENT_H

#include <jni.h>

extern "C" {
JNIEXPORT jlong JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCClient_initialize(JNIEnv*, jobject, jstring, jstring,
                                                                                    jstring);
JNIEXPORT jbyteArray JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCClient_sendMessage(JNIEnv*, jobject, jlong,
                                                                                          jbyteArray, jint);
JNIEXPORT void JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCClient_shutdown(JNIEnv*, jobject, jlong);
}

#endif
