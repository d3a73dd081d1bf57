#include "ClientListener.h"

#include <chrono>
#include <memory>
#include <sstream>

#include "FFDC.h"
#include "IPCClient.h"
#include "IPCMessageType.h"
#include "IPCServer.h"
#include "IPCTimeoutException.h"
#include "KorrException.h"
#include "KorrRunnable.h"
#include "KorrThreadImpl.h"
#include "KorrThreadSyncImpl.h"
#include "NLS.h"
#include "ProcessController.h"
#include "ProcessControllerState.h"
#include "RAS.h"
#include "RasDescriptor.h"
#include "Synchronize.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("ClientListener", "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages");
    return *d;
}

const int CONNECT_ATTEMPTS = 6;
const long CONNECT_RETRY_WAIT_MS = 1000;
// Relay poll interval of every request but a controlled stop, which polls at the finest grain.
const long RELAY_TIMEOUT = 30;
const long STOPC_RELAY_TIMEOUT = -1;

const char* const LEVEL_OPEN = "<trace:traceLevel>";
const char* const LEVEL_CLOSE = "</trace:traceLevel>";
const char* const CLASSES_OPEN = "<trace:traceClasses>";
const char* const CLASSES_CLOSE = "</trace:traceClasses>";

void traceModerate(const void* object, const char* method, const std::string& text)
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, object, method, 1, text.c_str());
    }
}

// The text between an opening tag and its closing tag (or the end of the text when the
// closing tag is missing); false when the pair is malformed.
bool element(const std::string& text, const char* open, const char* close, std::string& value)
{
    std::string::size_type start = text.find(open);
    if (start == std::string::npos || start == 0) {
        return false;
    }
    std::string::size_type end = text.find(close, start);
    if (end == 0) {
        return false;
    }
    std::string::size_type from = start + std::string(open).size();
    if (end == std::string::npos) {
        value = text.substr(from);
    } else {
        if (end < from) {
            return false;
        }
        value = text.substr(from, end - from);
    }
    return true;
}

} // namespace

// One immediate-stop request sent to the application on a thread of its own, so that the
// stopping thread can give up waiting for an application that never answers.
class ClientListener::StopRequest : public KorrRunnable
{
public:
    StopRequest(ClientListener& l, long m) : listener(l), limit(m), done(false), status(IPCMessage::STATUS_EXCEPTION) {}

    long run() override
    {
        long result = IPCMessage::STATUS_EXCEPTION;
        try {
            IPCMessage reply = listener.internalOnMessage(IPCMessage(1, "STOPI"), RELAY_TIMEOUT, limit);
            result = reply.getMessageStatus();
        } catch (const KorrException& e) {
            if (rd().isOn(TraceLevel::MODERATE)) {
                std::string text = e.toString();
                Trace::traceMethodData(rd(), TraceLevel::MODERATE, &listener, "stopApp", 1, text.c_str());
            }
        }
        Synchronize hold(listener.stopLock);
        status = result;
        done = true;
        listener.stopLock->notifyAll();
        return result;
    }

    ClientListener& listener;
    long limit;
    bool done;     // guarded by stopLock
    long status;   // guarded by stopLock
};

ClientListener::ClientListener(ProcessController& c, const std::string& name, const std::string& appName)
    : controller(c), serviceName(name), appIPCServiceName(appName), server(nullptr), appStarted(false),
      relayLimit(RELAY_LIMIT_MS), monitor(new KorrThreadSyncImpl()), stopRequest(nullptr), stopThread(nullptr),
      stopLock(new KorrThreadSyncImpl())
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "ClientListener", 2, name.c_str(), appName.c_str());
    }
    // Bounded, so that clients that connect and never ask (or never leave) cannot pile up threads.
    IPCServer* created = IPCServer::newInstance(serviceName, *this, MAX_ADMIN_CONNECTIONS);
    created->setIdleLimit(ADMIN_IDLE_LIMIT_MS);
    try {
        created->connect();
    } catch (const KorrException& e) {
        delete created;
        delete monitor;
        delete stopLock;
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "ClientListener", &e);
        }
        throw;
    }
    server = created;
    if (rd().isFlowOn()) {
        Trace::exit(rd(), "ClientListener");
    }
}

ClientListener::~ClientListener()
{
    shutdown();
    joinStopRequest();
    delete monitor;
    delete stopLock;
}

IPCMessage ClientListener::onMessage(const IPCMessage& request)
{
    const std::string& text = request.getMessageText();
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "onMessage", 1, text.c_str());
    }
    IPCMessageType type = IPCMessageType::fromMessageText(text);
    bool isStop = type == IPCMessageType::STOPC || type == IPCMessageType::STOPI;
    long timeout = type == IPCMessageType::STOPC ? STOPC_RELAY_TIMEOUT : RELAY_TIMEOUT;

    if (isStop) {
        controller.requestState(type == IPCMessageType::STOPC ? ProcessControllerState::CSTOPPING
                                                              : ProcessControllerState::ISTOPPING);
    }
    if (type == IPCMessageType::TRAC || (type == IPCMessageType::STAG && text.size() >= 5)) {
        applyTraceSpecification(text);
    }

    long limit;
    {
        Synchronize hold(monitor);
        limit = relayLimit;
    }
    if (isStop) {
        limit = controller.getStopLimit();   // a stop relay is bounded like the stop itself
    }
    IPCMessage reply;
    try {
        if (type == IPCMessageType::GETS) {
            std::ostringstream status;
            status << controller.getStatusProperties();
            reply = IPCMessage(-1, IPCMessage::STATUS_SUCCESS, status.str());
        } else if (type == IPCMessageType::STAG) {
            controller.wakeup();
            reply = IPCMessage(-1, IPCMessage::STATUS_SUCCESS, "");
        } else {
            reply = internalOnMessage(request, timeout, limit);
        }
    } catch (const IPCTimeoutException& e) {
        if (isStop) {
            reply = IPCMessage(-1, IPCMessage::STATUS_WARNING,
                               NLS::format(rd(), "ZRKPC0020_STOPPED_WITH_WARNING", e.getMessage()));
            controller.forceStop(true);
        } else {
            reply = IPCMessage(-1, IPCMessage::STATUS_TIMEOUT,
                               NLS::format(rd(), "ZRKPC0080_RELAY_TIMED_OUT", text, std::to_string(limit / 1000)));
        }
    } catch (const KorrException& e) {
        if (isStop) {
            if (!isAppRunning()) {
                reply = IPCMessage(-1, IPCMessage::STATUS_SUCCESS, "");
            } else {
                reply = IPCMessage(-1, IPCMessage::STATUS_WARNING,
                                   NLS::format(rd(), "ZRKPC0020_STOPPED_WITH_WARNING", e.getMessage()));
            }
            controller.forceStop(true);
        } else {
            reply = IPCMessage(-1, IPCMessage::STATUS_EXCEPTION, e.getMessage());
        }
    }

    // The client of an immediate stop hears back only once the application has gone.
    if (type == IPCMessageType::STOPI && (reply.getMessageStatus() == IPCMessage::STATUS_SUCCESS ||
                                          reply.getMessageStatus() == IPCMessage::STATUS_WARNING)) {
        Synchronize hold(monitor);
        while (appStarted) {
            traceModerate(this, "onMessage", "waiting to be informed that the application has stopped");
            monitor->wait(-1);
        }
    }
    if (rd().isFlowOn()) {
        std::ostringstream out;
        out << reply;
        std::string replyText = out.str();
        Trace::traceMethodExit(rd(), this, "onMessage", &replyText, "IPCMessage");
    }
    return reply;
}

void ClientListener::applyTraceSpecification(const std::string& text)
{
    std::string level;
    std::string classes;
    if (!element(text, LEVEL_OPEN, LEVEL_CLOSE, level) || !element(text, CLASSES_OPEN, CLASSES_CLOSE, classes)) {
        const char* what = "Process controller received malformed trace specification XML: ";
        if (rd().isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "onMessage", 2, what, text.c_str());
        }
        FFDC::capture(rd(), this, "onMessage", FFDC::PROBE_001(), nullptr, 2, what, text.c_str());
        return;
    }
    std::string specification = classes + "=" + level;
    RAS::setLevel(specification);
    controller.setTraceSpecification(specification);
}

IPCMessage ClientListener::internalOnMessage(const IPCMessage& request, long timeout, long limit)
{
    if (rd().isFlowOn()) {
        std::string timeoutText = std::to_string(timeout);
        Trace::traceMethodEntry(rd(), this, "internalOnMessage", 2, request.getMessageText().c_str(),
                                timeoutText.c_str());
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    auto left = [&deadline] {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return ms.count() < 0 ? 0L : static_cast<long>(ms.count());
    };
    {
        Synchronize hold(monitor);
        if (server == nullptr) {
            KorrException e(NLS::format(rd(), "ZRKPC0010_LISTENER_SHUTDOWN", request.getMessageText()));
            if (rd().isFlowOn()) {
                Trace::throwing(rd(), "internalOnMessage", &e);
            }
            throw e;
        }
        if (!appStarted) {
            KorrException e(NLS::format(rd(), "ZRKPC0011_APP_NOT_STARTED", request.getMessageText()));
            if (rd().isFlowOn()) {
                Trace::throwing(rd(), "internalOnMessage", &e);
            }
            throw e;
        }
    }
    // A connection of its own, used without the monitor: a request the application never
    // answers holds up neither other requests nor the run loop.
    NativeProperties properties = controller.getProperties();
    std::unique_ptr<IPCClient> client(IPCClient::newInstance(appIPCServiceName, properties));
    for (int attempt = 1;; ++attempt) {
        try {
            client->connect();
            break;
        } catch (const KorrException& e) {
            if (attempt == CONNECT_ATTEMPTS || left() == 0) {
                if (rd().isFlowOn()) {
                    Trace::throwing(rd(), "internalOnMessage", &e);
                }
                throw;
            }
            traceModerate(this, "internalOnMessage", "waiting and retrying connection to the application");
            Synchronize hold(monitor);
            monitor->wait(CONNECT_RETRY_WAIT_MS < left() ? CONNECT_RETRY_WAIT_MS : left());
            // The application may have gone while the monitor was released.
            if (!appStarted) {
                throw KorrException(NLS::format(rd(), "ZRKPC0011_APP_NOT_STARTED", request.getMessageText()));
            }
        }
    }
    IPCMessage reply;
    try {
        reply = client->sendMessage(request, timeout, left());
    } catch (const KorrException&) {
        client->disconnect();
        throw;
    }
    client->disconnect();
    if (rd().isFlowOn()) {
        std::ostringstream out;
        out << reply;
        std::string replyText = out.str();
        Trace::traceMethodExit(rd(), this, "internalOnMessage", &replyText, "IPCMessage");
    }
    return reply;
}

bool ClientListener::isAppRunning() const
{
    Synchronize hold(monitor);
    return appStarted;
}

void ClientListener::notifyAppStarted()
{
    Synchronize hold(monitor);
    appStarted = true;
    monitor->notifyAll();
}

void ClientListener::notifyAppStopped()
{
    Synchronize hold(monitor);
    appStarted = false;
    monitor->notifyAll();
}

void ClientListener::setRelayLimit(long milliseconds)
{
    Synchronize hold(monitor);
    relayLimit = milliseconds;
}

long ClientListener::stopApp() { return stopApp(STOP_REPLY_LIMIT_MS); }

long ClientListener::stopApp(long limit)
{
    if (rd().isFlowOn()) {
        std::string limitText = std::to_string(limit);
        Trace::traceMethodEntry(rd(), this, "stopApp", 1, limitText.c_str());
    }
    long status = IPCMessage::STATUS_TIMEOUT;
    {
        Synchronize hold(stopLock);
        // A stop still under way from an earlier call is waited for again, not sent twice.
        if (stopRequest == nullptr || stopRequest->done) {
            joinStopRequest();
            stopRequest = new StopRequest(*this, limit);
            stopThread = new KorrThreadImpl(stopRequest);
            stopThread->start();
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
        while (!stopRequest->done) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            stopLock->wait(left.count());
        }
        if (stopRequest->done) {
            status = stopRequest->status;
        } else {
            traceModerate(this, "stopApp", "The application did not answer the stop request in time");
        }
    }
    if (rd().isFlowOn()) {
        std::string text = std::to_string(status);
        Trace::traceMethodExit(rd(), this, "stopApp", &text, "long");
    }
    return status;
}

// Joins the thread of a finished stop request; waits for one still under way, which ends
// once the application has answered or gone.
void ClientListener::joinStopRequest()
{
    Synchronize hold(stopLock);
    if (stopThread) {
        while (!stopRequest->done) {
            stopLock->wait(-1);
        }
        stopThread->join();
        delete stopThread;
        delete stopRequest;
        stopThread = nullptr;
        stopRequest = nullptr;
    }
}

void ClientListener::shutdown()
{
    if (server) {
        server->disconnect();
        delete server;
        server = nullptr;
    }
}
