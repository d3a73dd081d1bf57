#include "NativeIPCServer.h"

#include <string>

#include "IPCServer.h"
#include "JNIEnvWrapper.h"
#include "JavaCallbackIPCListener.h"
#include "KorrEnvironment.h"
#include "KorrException.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("NativeIPCServer", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

void traceExit(const char* method, const std::string& value)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), nullptr, method, &value, "jlong");
    }
}

void traceThrowing(const char* method, const KorrException& e)
{
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
}

} // namespace

JNIEXPORT jlong JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCServer_initialize(JNIEnv* env, jobject self,
                                                                                    jstring serviceName,
                                                                                    jstring directory,
                                                                                    jint maxConnections,
                                                                                    jstring adminGroup)
{
    JNIEnvWrapper jni(env);
    std::string name;
    std::string group;
    try {
        name = jni.getString(serviceName);
        std::string dir = jni.getString(directory);
        // No admin group is no admin group; the server only reports it.
        group = adminGroup ? jni.getString(adminGroup) : std::string();
        if (rd().isFlowOn()) {
            std::string max = std::to_string(maxConnections);
            Trace::traceMethodEntry(rd(), nullptr, "initialize", 4, name.c_str(), dir.c_str(), max.c_str(),
                                    group.c_str());
        }
        KorrEnvironment::setProperty("com.quillon.velbrix.native.logdir", dir + "/logs");
    } catch (const KorrException& e) {
        traceThrowing("initialize", e);
        traceExit("initialize", "0");
        return 0;
    }
    JavaCallbackIPCListener* listener = nullptr;
    IPCServer* server = nullptr;
    try {
        listener = new JavaCallbackIPCListener(env, self);
        server = IPCServer::newInstance(name, *listener, maxConnections, group);
        server->connect();
    } catch (const KorrException& e) {
        delete server;
        delete listener;
        traceThrowing("initialize", e);
        traceExit("initialize", "0");
        jni.throwNew("com/quillon/velbrix/ipc/IPCException", e.getMessage());
        return 0;
    }
    traceExit("initialize", Trace::pointerText(server));
    return static_cast<jlong>(reinterpret_cast<intptr_t>(server));
}

JNIEXPORT void JNICALL Java_com_quillon_velbrix_ipc_impl_NativeIPCServer_shutdown(JNIEnv*, jobject, jlong nativeServer)
{
    IPCServer* server = reinterpret_cast<IPCServer*>(static_cast<intptr_t>(nativeServer));
    if (rd().isFlowOn()) {
        std::string s = Trace::pointerText(server);
        Trace::traceMethodEntry(rd(), nullptr, "shutdown", 1, s.c_str());
    }
    if (server == nullptr) {
        if (rd().isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, nullptr, "shutdown", 1,
                                   "shutdown passed NULL nativeId, ignoring");
        }
    } else {
        // The server ends its connection threads first: none may still be in the listener.
        IPCListener* listener = &server->getListener();
        delete server;
        delete listener;
    }
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), nullptr, "shutdown", nullptr, "void");
    }
}
