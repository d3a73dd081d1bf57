#include "NativeJNI.h"

#include <exception>
#include <initializer_list>
#include <string>
#include <type_traits>

#include "FilePermissionsException.h"
#include "JNIEnvWrapper.h"
#include "KorrException.h"
#include "KorrIOException.h"
#include "KorrUnsupportedOperationException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RAS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("NativeJNI", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

const char* boolText(bool b) { return b ? "true" : "false"; }

// A Java boolean is true exactly when it is 1.
bool isTrue(jboolean b) { return b == 1; }

void traceEntry(const char* method, std::initializer_list<std::string> args)
{
    if (!rd().isFlowOn()) {
        return;
    }
    const char* a[3] = {nullptr, nullptr, nullptr};
    int count = 0;
    for (const std::string& s : args) {
        if (count < 3) {
            a[count++] = s.c_str();
        }
    }
    Trace::traceMethodEntry(rd(), nullptr, method, count, a[0], a[1], a[2]);
}

// The Java class a native exception is raised as. Anything not named in the table of these
// methods is an I/O failure to the Java side.
const char* javaClassOf(const KorrException& e)
{
    if (dynamic_cast<const FilePermissionsException*>(&e)) {
        return "com/quillon/velbrix/jni/FilePermissionsException";
    }
    if (dynamic_cast<const KorrUnsupportedOperationException*>(&e)) {
        return "java/lang/UnsupportedOperationException";
    }
    return "java/io/IOException";
}

// Runs the operation of a native method: exit and thrown exceptions are traced, and no C++
// exception ever leaves into the virtual machine; failed is returned when one was raised.
template <class Result, class Operation>
Result guarded(JNIEnv* env, const char* method, Result failed, Operation operation, bool isVoid = true)
{
    JNIEnvWrapper jni(env);
    try {
        Result result = operation(jni);
        if (rd().isFlowOn()) {
            std::string text = boolText(result);
            bool hasValue = std::is_same<Result, bool>::value && !isVoid;
            Trace::traceMethodExit(rd(), nullptr, method, hasValue ? &text : nullptr, hasValue ? "bool" : "void");
        }
        return result;
    } catch (const KorrException& e) {
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), method, &e);
        }
        jni.throwNew(javaClassOf(e), e.getMessage());
    } catch (const std::exception& e) {
        jni.throwNew("java/lang/RuntimeException", e.what());
    }
    return failed;
}

} // namespace

JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_checkFilePermissions(JNIEnv* env, jclass, jstring path)
{
    guarded(env, "checkFilePermissions", false, [&](JNIEnvWrapper& jni) {
        if (path == nullptr) {
            traceEntry("checkFilePermissions", {"null"});
            throw FilePermissionsException(NLS::format(rd(), "ZRKNV0167_FILEPATH_NULL"));
        }
        std::string p = jni.getString(path);
        traceEntry("checkFilePermissions", {p});
        KorrUtils::checkFilePermissions(p);
        return false;
    });
}

JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_chmod(JNIEnv* env, jclass, jstring path, jint mode)
{
    guarded(env, "chmod", false, [&](JNIEnvWrapper& jni) {
        std::string p = jni.getString(path);
        traceEntry("chmod", {p, std::to_string(mode)});
        KorrUtils::chmod(p, mode);
        return false;
    });
}

JNIEXPORT jboolean JNICALL Java_com_quillon_velbrix_jni_NativeJNI_doesCurrentUserHaveSpecialAuthority(JNIEnv* env,
                                                                                                     jclass, jstring name)
{
    bool result = guarded(env, "doesCurrentUserHaveSpecialAuthority", false, [&](JNIEnvWrapper& jni) {
        std::string n = jni.getString(name);
        traceEntry("doesCurrentUserHaveSpecialAuthority", {n});
        return KorrUtils::doesCurrentUserHaveSpecialAuthority(n);
    }, false);
    return result ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_quillon_velbrix_jni_NativeJNI_isCurrentUserMemberOfGroup(JNIEnv* env, jclass,
                                                                                            jstring group)
{
    bool result = guarded(env, "isCurrentUserMemberOfGroup", false, [&](JNIEnvWrapper& jni) {
        std::string g = jni.getString(group);
        traceEntry("isCurrentUserMemberOfGroup", {g});
        return KorrUtils::isCurrentUserMemberOfGroup(g);
    }, false);
    return result ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_mkGroupVexilWrite(JNIEnv* env, jclass, jstring path,
                                                                               jboolean flag)
{
    guarded(env, "mkGroupVexilWrite", false, [&](JNIEnvWrapper& jni) {
        std::string p = jni.getString(path);
        traceEntry("mkGroupVexilWrite", {p, boolText(isTrue(flag))});
        KorrUtils::mkGroupVexilWrite(p, isTrue(flag));
        return false;
    });
}

JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_mkGroupWrite(JNIEnv* env, jclass, jstring path,
                                                                          jstring group, jboolean flag)
{
    guarded(env, "mkGroupWrite", false, [&](JNIEnvWrapper& jni) {
        std::string p = jni.getString(path);
        std::string g = jni.getString(group);
        traceEntry("mkGroupWrite", {p, g, boolText(isTrue(flag))});
        KorrUtils::mkGroupWrite(p, g, isTrue(flag));
        return false;
    });
}

JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_mkpriv(JNIEnv* env, jclass, jstring path, jboolean a,
                                                                    jboolean b)
{
    guarded(env, "mkpriv", false, [&](JNIEnvWrapper& jni) {
        std::string p = jni.getString(path);
        traceEntry("mkpriv", {p, boolText(isTrue(a)), boolText(isTrue(b))});
        KorrUtils::mkpriv(p, isTrue(a), isTrue(b));
        return false;
    });
}

JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_rasInitialize(JNIEnv* env, jclass, jstring prefix,
                                                                           jstring logPath)
{
    guarded(env, "rasInitialize", false, [&](JNIEnvWrapper& jni) {
        std::string p = jni.getString(prefix);
        std::string l = jni.getString(logPath);
        traceEntry("rasInitialize", {p, l});
        RAS::initialize(RASEnvironment::JAVA_APP, env, p, l);
        return false;
    });
}

JNIEXPORT void JNICALL Java_com_quillon_velbrix_jni_NativeJNI_rasSetLevel(JNIEnv* env, jclass, jstring spec)
{
    guarded(env, "rasSetLevel", false, [&](JNIEnvWrapper& jni) {
        std::string s = jni.getString(spec);
        traceEntry("rasSetLevel", {s});
        RAS::setLevel(s);
        return false;
    });
}
