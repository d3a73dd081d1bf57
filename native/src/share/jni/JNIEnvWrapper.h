// Thin forwarding members over the JNI function table of one environment, plus getString,
// which turns a Java string into a native one. Only the JNI folder includes jni.h.
#ifndef OSTARA_JNIENVWRAPPER_H
#define OSTARA_JNIENVWRAPPER_H

#include <jni.h>

#include <string>

class JNIEnvWrapper
{
public:
    explicit JNIEnvWrapper(JNIEnv* env) : env(env) {}
    virtual ~JNIEnvWrapper() {}

    JNIEnv* getEnv() const { return env; }

    // The string's modified-UTF-8 bytes. A null string, or one whose characters cannot be
    // obtained, throws KorrIOException "GetStringUTFChars failed".
    std::string getString(jstring s);
    // Every byte of the array; an empty text for a null array.
    std::string getBytes(jbyteArray array);
    // A Java string of native text. Bytes that are not well-formed UTF-8 become '?', a zero
    // byte and characters beyond the 16-bit range take their modified-UTF-8 form, so that
    // no text from outside (a request, a file name) can hand the virtual machine bytes it
    // does not accept. Null when the string could not be made (an exception is pending).
    jstring newString(const std::string& text);
    static std::string toModifiedUTF8(const std::string& text);
    // A new Java byte array holding text, or null when the virtual machine could not make one
    // (an OutOfMemoryError is then pending).
    jbyteArray newByteArray(const std::string& text);

    jobject CallObjectMethod(jobject object, jmethodID method, ...);
    void CallStaticVoidMethod(jclass clazz, jmethodID method, ...);
    void DeleteGlobalRef(jobject ref) { env->DeleteGlobalRef(ref); }
    void DeleteLocalRef(jobject ref) { env->DeleteLocalRef(ref); }
    jboolean ExceptionCheck() { return env->ExceptionCheck(); }
    void ExceptionClear() { env->ExceptionClear(); }
    void ExceptionDescribe() { env->ExceptionDescribe(); }
    jthrowable ExceptionOccurred() { return env->ExceptionOccurred(); }
    jclass FindClass(const char* name) { return env->FindClass(name); }
    jsize GetArrayLength(jarray array) { return env->GetArrayLength(array); }
    jbyte* GetByteArrayElements(jbyteArray array, jboolean* isCopy) { return env->GetByteArrayElements(array, isCopy); }
    void ReleaseByteArrayElements(jbyteArray array, jbyte* elements, jint mode)
    {
        env->ReleaseByteArrayElements(array, elements, mode);
    }
    jint GetJavaVM(JavaVM** vm) { return env->GetJavaVM(vm); }
    jmethodID GetMethodID(jclass clazz, const char* name, const char* signature)
    {
        return env->GetMethodID(clazz, name, signature);
    }
    jobject GetObjectArrayElement(jobjectArray array, jsize index) { return env->GetObjectArrayElement(array, index); }
    jclass GetObjectClass(jobject object) { return env->GetObjectClass(object); }
    jmethodID GetStaticMethodID(jclass clazz, const char* name, const char* signature)
    {
        return env->GetStaticMethodID(clazz, name, signature);
    }
    jbyteArray NewByteArray(jsize length) { return env->NewByteArray(length); }
    jobject NewGlobalRef(jobject object) { return env->NewGlobalRef(object); }
    jobjectArray NewObjectArray(jsize length, jclass elementClass, jobject initial)
    {
        return env->NewObjectArray(length, elementClass, initial);
    }
    jstring NewStringUTF(const char* text) { return env->NewStringUTF(text); }
    void SetByteArrayRegion(jbyteArray array, jsize start, jsize length, const jbyte* bytes)
    {
        env->SetByteArrayRegion(array, start, length, bytes);
    }
    void SetObjectArrayElement(jobjectArray array, jsize index, jobject value)
    {
        env->SetObjectArrayElement(array, index, value);
    }
    jint Throw(jthrowable throwable) { return env->Throw(throwable); }
    jint ThrowNew(jclass clazz, const char* message) { return env->ThrowNew(clazz, message); }
    // Raises a new exception of the named class (e.g. "java/io/IOException") with message.
    void throwNew(const char* className, const std::string& message);
    jint PushLocalFrame(jint capacity) { return env->PushLocalFrame(capacity); }
    jobject PopLocalFrame(jobject result) { return env->PopLocalFrame(result); }

private:
    JNIEnv* env;
};

#endif
