#include "NativeIPCClient.h"

#include <string>

#include "IPCClient.h"
#include "IPCMessage.h"
#include "IPCNotAvailableForUserException.h"
#include "IPCNotFoundException.h"
#include "JNIEnvWrapper.h"
#include "KorrEnvironment.h"
#include "KorrException.h"
#include "NLS.h"
#include "NativeProperties.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("NativeIPCClient", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

const char* const IPC_EXCEPTION = "com/quillon/velbrix/ipc/IPCException";

void traceExit(const char* method, const std::string& value, const std::string& type)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), nullptr, method, &value, type);
    }
}

void traceThrowing(const char* method, const KorrException& e)
{
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
}

const char* javaClassOf(const KorrException& e)
{
    if (dynamic_cast<const IPCNotFoundException*>(&e)) {
        return "com/quillon/velbrix/ipc/IPCNotFoundException";
    }
    if (dynamic_cast<const IPCNotAvailableForUserException*>(&e)) {
        return "com/quillon/velbrix/ipc/IPCNotAvailableForUserException";
    }
    return IPC_EXCEPTION;
}

} // namespace

JNIEXPORT jlong JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCClient_initialize(JNIEnv* env, jobject,
                                                                                    jstring serviceName,
                                                                                    jstring directory,
                                                                                    jstring propertiesFile)
{
    JNIEnvWrapper jni(env);
    IPCClient* client = nullptr;
    try {
        std::string name = jni.getString(serviceName);
        std::string dir = jni.getString(directory);
        // Without a properties file there is nothing to load; the client needs none.
        std::string file = propertiesFile ? jni.getString(propertiesFile) : std::string();
        if (rd().isFlowOn()) {
            Trace::traceMethodEntry(rd(), nullptr, "initialize", 3, name.c_str(), dir.c_str(),
                                    propertiesFile ? file.c_str() : nullptr);
        }
        KorrEnvironment::setProperty("com.quillon.velbrix.native.logdir", dir + "/logs");
        if (propertiesFile) {
            NativeProperties properties;
            properties.loadProperties(file);
        }
        // The properties are not handed on: the client would keep a pointer to an object
        // that ends with this call, and it never reads them.
        client = IPCClient::newInstance(name);
    } catch (const KorrException& e) {
        traceThrowing("initialize", e);
        traceExit("initialize", "0", "jlong");
        return 0;
    }
    try {
        client->connect();
    } catch (const KorrException& e) {
        delete client;
        traceThrowing("initialize", e);
        traceExit("initialize", "0", "jlong");
        jni.throwNew(javaClassOf(e), e.getMessage());
        return 0;
    }
    traceExit("initialize", Trace::pointerText(client), "jlong");
    return static_cast<jlong>(reinterpret_cast<intptr_t>(client));
}

JNIEXPORT jbyteArray JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCClient_sendMessage(JNIEnv* env, jobject,
                                                                                          jlong nativeClient,
                                                                                          jbyteArray text,
                                                                                          jint timeout)
{
    IPCClient* client = reinterpret_cast<IPCClient*>(static_cast<intptr_t>(nativeClient));
    JNIEnvWrapper jni(env);
    std::string request = jni.getBytes(text);
    if (rd().isFlowOn()) {
        std::string c = Trace::pointerText(client);
        std::string t = std::to_string(timeout);
        Trace::traceMethodEntry(rd(), nullptr, "sendMessage", 3, c.c_str(), request.c_str(), t.c_str());
    }
    jbyteArray result = nullptr;
    try {
        if (client == nullptr) {
            throw KorrException(NLS::format(rd(), "ZRKNV0062_NOT_CONNECTED"));
        }
        // A longer text would be cut short on the way; the caller learns instead.
        if (request.size() > IPCMessage::MAX_MESSAGE_TEXT_LEN) {
            throw KorrException(NLS::format(rd(), "ZRKNV0095_MESSAGE_TEXT_TOO_LONG", std::to_string(request.size()),
                                            std::to_string(IPCMessage::MAX_MESSAGE_TEXT_LEN)));
        }
        IPCMessage reply = client->sendMessage(IPCMessage(1, IPCMessage::STATUS_SUCCESS, request), timeout);
        const std::string& replyText = reply.getMessageText();
        long status = reply.getMessageStatus();
        if (status == IPCMessage::STATUS_EXCEPTION || status == IPCMessage::STATUS_TIMEOUT) {
            traceExit("sendMessage", "null", "jbyteArray");
            jni.throwNew(status == IPCMessage::STATUS_TIMEOUT ? "com/quillon/velbrix/ipc/IPCTimeoutException"
                                                              : IPC_EXCEPTION,
                         replyText);
            return nullptr;
        }
        // Null, with an OutOfMemoryError pending, when the array cannot be made.
        result = jni.newByteArray(replyText.substr(0, replyText.find('\0')));
    } catch (const KorrException& e) {
        traceThrowing("sendMessage", e);
        traceExit("sendMessage", "null", "jbyteArray");
        jni.throwNew(IPC_EXCEPTION, e.getMessage());
        return nullptr;
    }
    traceExit("sendMessage", "byte array", "jbyteArray");
    return result;
}

JNIEXPORT void JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCClient_shutdown(JNIEnv*, jobject, jlong nativeClient)
{
    IPCClient* client = reinterpret_cast<IPCClient*>(static_cast<intptr_t>(nativeClient));
    if (rd().isFlowOn()) {
        std::string c = Trace::pointerText(client);
        Trace::traceMethodEntry(rd(), nullptr, "shutdown", 1, c.c_str());
    }
    if (client == nullptr) {
        if (rd().isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, nullptr, "shutdown", 1,
                                   "shutdown passed NULL nativeId, ignoring");
        }
    } else {
        delete client;   // which also closes its connection
    }
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), nullptr, "shutdown", nullptr, "void");
    }
}
