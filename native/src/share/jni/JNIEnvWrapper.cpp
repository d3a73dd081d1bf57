#include "JNIEnvWrapper.h"

#include <cstdarg>

#include "KorrIOException.h"

std::string JNIEnvWrapper::getString(jstring s)
{
    const char* chars = s ? env->GetStringUTFChars(s, nullptr) : nullptr;
    if (chars == nullptr) {
        // A failed GetStringUTFChars leaves an OutOfMemoryError pending; the caller reports
        // its own exception instead.
        if (s) {
            env->ExceptionClear();
        }
        throw KorrIOException("GetStringUTFChars failed");
    }
    std::string text(chars);
    env->ReleaseStringUTFChars(s, chars);
    return text;
}

std::string JNIEnvWrapper::getBytes(jbyteArray array)
{
    if (array == nullptr) {
        return std::string();
    }
    jsize length = env->GetArrayLength(array);
    std::string text(static_cast<std::size_t>(length), '\0');
    if (length > 0) {
        env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(&text[0]));
    }
    return text;
}

namespace {

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

void appendThreeByteForm(std::string& out, unsigned int unit)
{
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
}

} // namespace

std::string JNIEnvWrapper::toModifiedUTF8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned char c1 = i + 1 < n ? static_cast<unsigned char>(text[i + 1]) : 0;
        unsigned char c2 = i + 2 < n ? static_cast<unsigned char>(text[i + 2]) : 0;
        unsigned char c3 = i + 3 < n ? static_cast<unsigned char>(text[i + 3]) : 0;
        if (c == 0) {
            out += "\xC0\x80";
            i += 1;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            i += 1;
        } else if (c >= 0xC2 && c <= 0xDF && continuation(c1)) {
            out.append(text, i, 2);
            i += 2;
        } else if (c >= 0xE0 && c <= 0xEF && continuation(c1) && continuation(c2) && !(c == 0xE0 && c1 < 0xA0) &&
                   !(c == 0xED && c1 >= 0xA0)) {
            out.append(text, i, 3);
            i += 3;
        } else if (c >= 0xF0 && c <= 0xF4 && continuation(c1) && continuation(c2) && continuation(c3) &&
                   !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90)) {
            // Java strings hold such a character as a surrogate pair, each half in three bytes.
            unsigned int code = ((c & 0x07u) << 18) | ((c1 & 0x3Fu) << 12) | ((c2 & 0x3Fu) << 6) | (c3 & 0x3Fu);
            code -= 0x10000;
            appendThreeByteForm(out, 0xD800 | (code >> 10));
            appendThreeByteForm(out, 0xDC00 | (code & 0x3FF));
            i += 4;
        } else {
            out += '?';
            i += 1;
        }
    }
    return out;
}

jstring JNIEnvWrapper::newString(const std::string& text) { return env->NewStringUTF(toModifiedUTF8(text).c_str()); }

jbyteArray JNIEnvWrapper::newByteArray(const std::string& text)
{
    jsize length = static_cast<jsize>(text.size());
    jbyteArray array = env->NewByteArray(length);
    if (array != nullptr && length > 0) {
        env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(text.data()));
    }
    return array;
}

jobject JNIEnvWrapper::CallObjectMethod(jobject object, jmethodID method, ...)
{
    va_list args;
    va_start(args, method);
    jobject result = env->CallObjectMethodV(object, method, args);
    va_end(args);
    return result;
}

void JNIEnvWrapper::CallStaticVoidMethod(jclass clazz, jmethodID method, ...)
{
    va_list args;
    va_start(args, method);
    env->CallStaticVoidMethodV(clazz, method, args);
    va_end(args);
}

void JNIEnvWrapper::throwNew(const char* className, const std::string& message)
{
    jclass clazz = env->FindClass(className);
    if (clazz == nullptr) {
        return;   // NoClassDefFoundError is pending instead, which the caller sees just as well
    }
    env->ThrowNew(clazz, message.c_str());
    env->DeleteLocalRef(clazz);
}
