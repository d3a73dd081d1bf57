#include "IPCClientConnectionListener.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "EventLog.h"
#include "IPCClientRunnable.h"
#include "IPCEndpoint.h"
#include "IPCMessage.h"
#include "KorrException.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Synchronize.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("IPCClientConnectionListener", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

void traceData(const void* object, const char* text, const std::string& value = std::string())
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, object, "run", 2, text, value.c_str());
    }
}

} // namespace

IPCClientConnectionListener::IPCClientConnectionListener(const std::string& name, IPCListener& l, int max,
                                                         const std::string&)
    : serviceName(name), listener(l), idleLimit(-1), clients(rd(), name, max),
      wakeRead(-1), wakeWrite(-1)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead = ends[0];
        wakeWrite = ends[1];
    } else {
        state.setErrorMessage(NLS::format(rd(), "ZRKNV0114_SECURITY_SETUP_FAILED", serviceName,
                                          KorrUtils::getLastErrorMessage()));
    }
}

IPCClientConnectionListener::~IPCClientConnectionListener()
{
    shutdown();
    if (wakeRead >= 0) {
        ::close(wakeRead);
        ::close(wakeWrite);
    }
}

bool IPCClientConnectionListener::shutdown()
{
    state.setShutdownRequested(true);
    if (wakeWrite < 0) {
        return false;
    }
    char wake = 1;
    // A full pipe already holds a wake-up; nothing else can go wrong with our own pipe.
    ssize_t written = ::write(wakeWrite, &wake, 1);
    return written == 1 || errno == EAGAIN;
}

void IPCClientConnectionListener::pause(long milliseconds)
{
    pollfd wake = {wakeRead, POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(milliseconds));
}

long IPCClientConnectionListener::run()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "run", 1, serviceName.c_str());
    }
    long result = 0;
    IPCEndpoint endpoint(serviceName);
    std::string message = state.getErrorMessage();
    if (wakeRead < 0) {
        result = EMFILE;
    } else {
        result = endpoint.open(message);
    }
    if (result == 0) {
        state.setRunning(true);
        while (!state.isShutdownRequested()) {
            traceData(this, "Waiting for a client to connect");
            pollfd ready[2] = {{endpoint.getDescriptor(), POLLIN, 0}, {wakeRead, POLLIN, 0}};
            if (::poll(ready, 2, -1) < 0) {
                if (errno != EINTR) {
                    EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0089_CONNECT_NAMED_PIPE_FAILED",
                                                              serviceName, KorrUtils::getLastErrorMessage()));
                    pause(100);
                }
                continue;
            }
            if ((ready[1].revents & POLLIN) != 0) {
                char drained[16];
                while (::read(wakeRead, drained, sizeof drained) > 0) {
                }
                continue;
            }
            if (ready[0].revents != 0) {
                acceptOne(endpoint.getDescriptor());
            }
        }
        traceData(this, "Ended. Removing all currently connected client threads");
        // No new clients from here on: they find no server rather than a deaf one.
        endpoint.close();
        clients.endAll();
    }
    state.setEnded(message);
    if (rd().isFlowOn()) {
        std::string text = std::to_string(result);
        Trace::traceMethodExit(rd(), this, "run", &text, "long");
    }
    return result;
}

void IPCClientConnectionListener::acceptOne(int listening)
{
    int client = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        int code = errno;
        if (code != EAGAIN && code != EWOULDBLOCK && code != EINTR && code != ECONNABORTED) {
            EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0089_CONNECT_NAMED_PIPE_FAILED", serviceName,
                                                      KorrUtils::getLastErrorMessage(code)));
            pause(100); // out of descriptors, say: do not spin on the waiting connection
        }
        return;
    }
    if (state.isShutdownRequested()) {
        ::close(client);
        return;
    }
    uid_t peer = 0;
    if (!IPCEndpoint::peerUid(client, peer) || !IPCEndpoint::mayConnect(peer, ::geteuid())) {
        traceData(this, "Refused a client of user id", std::to_string(peer));
        ::close(client);
        return;
    }
    std::string text;
    if (!clients.admit(text)) {
        // The client learns why before its connection closes: a reply to whatever it sends.
        IPCMessage refusal(0, IPCMessage::STATUS_EXCEPTION, text);
        unsigned char buffer[IPCMessage::MAX_MESSAGE_DATA_LEN];
        int length = 0;
        refusal.getMessageBytes(buffer, &length);
        ::send(client, buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(client);
        return;
    }
    traceData(this, "Client connected, creating a processing thread.");
    clients.start(new IPCClientRunnable(serviceName, client, listener, idleLimit));
}
