#include "IPCServerImpl.h"

#include <ostream>

#include "FFDC.h"
#include "IPCClientConnectionListener.h"
#include "KorrException.h"
#include "KorrThreadImpl.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("IPCServerImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

const long RUNNING_WAIT_SLICE_MS = 10000;

} // namespace

IPCServer* IPCServer::newInstance(const std::string& serviceName, IPCListener& listener, int maxConnections)
{
    return new IPCServerImpl(serviceName, listener, maxConnections, std::string());
}

IPCServer* IPCServer::newInstance(const std::string& serviceName, IPCListener& listener, int maxConnections,
                                  const std::string& adminGroupName)
{
    return new IPCServerImpl(serviceName, listener, maxConnections, adminGroupName);
}

IPCServerImpl::IPCServerImpl(const std::string& serviceName, IPCListener& listener, int maxConnections,
                             const std::string& adminGroupName)
    : IPCServer(serviceName, listener, maxConnections, adminGroupName), clientConnectionListener(nullptr),
      clientConnectionListenerThread(nullptr)
{
}

IPCServerImpl::~IPCServerImpl()
{
    if (clientConnectionListenerThread) {
        try {
            disconnect();
        } catch (const KorrException&) {
            // disconnect() only throws when not connected, which was just ruled out
        }
    }
}

void IPCServerImpl::connect()
{
    if (rd().isFlowOn()) {
        std::string name = getServiceName();
        Trace::traceMethodEntry(rd(), this, "connect", 1, name.c_str());
    }
    if (clientConnectionListenerThread) {
        KorrException e(NLS::format(rd(), "ZRKNV0065_ALREADY_CONNECTED"));
        FFDC::capture(rd(), this, "connect", FFDC::PROBE_001(), &e);
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "connect", &e);
        }
        throw e;
    }
    IPCClientConnectionListener* listener =
        new IPCClientConnectionListener(getServiceName(), getListener(), getMaxConnections(), getAdminGroupName());
    listener->setIdleLimit(getIdleLimit());
    KorrThread* thread = new KorrThreadImpl(listener);
    try {
        thread->start();
    } catch (const KorrException& e) {
        delete thread;
        delete listener;
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "connect", &e);
        }
        throw;
    }
    while (!listener->waitRunning(RUNNING_WAIT_SLICE_MS) && !listener->hasEnded()) {
    }
    if (listener->hasEnded()) {
        thread->join();
        std::string message = listener->getErrorMessage();
        if (rd().isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "connect", 2,
                                   "clientConnectionListenerThread dead", message.c_str());
        }
        if (!message.empty()) {
            delete thread;
            delete listener;
            KorrException e(message);
            if (rd().isFlowOn()) {
                Trace::throwing(rd(), "connect", &e);
            }
            throw e;
        }
    }
    clientConnectionListener = listener;
    clientConnectionListenerThread = thread;
    if (rd().isFlowOn()) {
        Trace::exit(rd(), "connect");
    }
}

void IPCServerImpl::disconnect()
{
    if (rd().isFlowOn()) {
        std::string name = getServiceName();
        Trace::traceMethodEntry(rd(), this, "disconnect", 1, name.c_str());
    }
    if (!clientConnectionListenerThread) {
        KorrException e(NLS::format(rd(), "ZRKNV0062_NOT_CONNECTED"));
        FFDC::capture(rd(), this, "disconnect", FFDC::PROBE_002(), &e);
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "disconnect", &e);
        }
        throw e;
    }
    // The loop's own wake-up cannot fail while it runs, so the join ends.
    clientConnectionListener->shutdown();
    clientConnectionListenerThread->join();
    delete clientConnectionListenerThread;
    delete clientConnectionListener;
    clientConnectionListenerThread = nullptr;
    clientConnectionListener = nullptr;
    if (rd().isFlowOn()) {
        Trace::exit(rd(), "disconnect");
    }
}

std::ostream& operator<<(std::ostream& out, const IPCServerImpl& server)
{
    return out << "IPCServerImpl " << server.getServiceName();
}
