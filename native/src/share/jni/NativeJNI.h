// The native methods of the Java class com.quillon.velbrix.jni.NativeJNI: file permission
// checks and changes, group checks, and the diagnostics start-up and trace setting of the
// Java process. Native exceptions come back to Java as pending Java exceptions.
#ifndef OSTARA_NATIVEJNI_H
#define OSTARA_NATIVEJNI_H

#include <jni.h>

extern "C" {
JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_checkFilePermissions(JNIEnv*, jclass, jstring);
JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_chmod(JNIEnv*, jclass, jstring, jint);
JNIEXPORT jboolean JNICALL Java_com_quillon_velbrix_jni_NativeJNI_doesCurrentUserHaveSpecialAuthority(JNIEnv*, jclass,
                                                                                                     jstring);
JNIEXPORT jboolean JNICALL Java_com_quillon_velbrix_jni_NativeJNI_isCurrentUserMemberOfGroup(JNIEnv*, jclass, jstring);
JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_mkGroupVexilWrite(JNIEnv*, jclass, jstring, jboolean);
JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_mkGroupWrite(JNIEnv*, jclass, jstring, jstring, jboolean);
JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_mkpriv(JNIEnv*, jclass, jstring, jboolean, jboolean);
JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_rasInitialize(JNIEnv*, jclass, jstring, jstring);
JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_rasSetLevel(JNIEnv*, jclass, jstring);
}

#endif
