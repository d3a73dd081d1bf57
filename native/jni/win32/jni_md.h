/* Machine-dependent JNI types and linkage for 64-bit Windows, for building the Java
   bindings with mingw-w64 against a JDK that ships only another platform's header. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

/* LLP64: long is 32 bits on Windows, so jint is long as the Windows JDK declares it. */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
