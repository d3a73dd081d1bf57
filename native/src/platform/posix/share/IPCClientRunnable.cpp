#include "IPCClientRunnable.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "EventLog.h"
#include "IPCListener.h"
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

const RasDescriptorSlot rdSlot("IPCClientRunnable", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

} // namespace

IPCClientRunnable::IPCClientRunnable(const std::string& name, int s, IPCListener& l, long idle)
    : serviceName(name), socket(s), listener(l), idleLimit(idle)
{
}

IPCClientRunnable::~IPCClientRunnable() {}

bool IPCClientRunnable::shutdown() { return state.requestShutdown(); }

void IPCClientRunnable::closeConnection() { ::close(socket); }

void IPCClientRunnable::requestStop()
{
    state.requestShutdown();
    ::shutdown(socket, SHUT_RD);
}

long IPCClientRunnable::run()
{
    if (rd().isFlowOn()) {
        std::string s = std::to_string(socket);
        Trace::traceMethodEntry(rd(), this, "run", 2, serviceName.c_str(), s.c_str());
    }
    unsigned char buffer[IPCMessage::MAX_MESSAGE_DATA_LEN];
    long result = 0;
    while (!state.isShutdownRequested()) {
        if (idleLimit >= 0) {
            // A wake-up by requestStop() reads as input too, so the loop looks again at once.
            pollfd ready = {socket, POLLIN, 0};
            int polled = ::poll(&ready, 1, idleLimit > 0x7fffffffL ? 0x7fffffff : static_cast<int>(idleLimit));
            if (polled < 0 && errno == EINTR) {
                continue;
            }
            if (polled == 0) {
                if (rd().isOn(TraceLevel::MODERATE)) {
                    Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 1, "idle connection closed");
                }
                result = ETIMEDOUT;
                break;
            }
        }
        iovec part = {buffer, sizeof buffer};
        msghdr header = {};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        ssize_t got = ::recvmsg(socket, &header, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        state.setProcessingMessage(true);
        if (got == 0) {
            // The client closed its end (or sent an empty packet, which ends it as well).
            if (rd().isOn(TraceLevel::MODERATE)) {
                Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 1, "client disconnected");
            }
            result = CLIENT_DISCONNECTED;
            break;
        }
        if (got < 0) {
            result = errno;
            EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0085_READ_FAILED", serviceName,
                                                      KorrUtils::getLastErrorMessage(static_cast<int>(result))));
            break;
        }
        if ((header.msg_flags & MSG_TRUNC) != 0) {
            // Longer than any message: served from its first bytes, the rest is gone.
            EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0085_READ_FAILED", serviceName,
                                                      KorrUtils::getLastErrorMessage(EMSGSIZE)));
        }
        long id = 0;
        IPCMessage reply;
        try {
            IPCMessage request(buffer, static_cast<unsigned int>(got));
            id = request.getMessageId();
            reply = listener.onMessage(request);
        } catch (const KorrException& e) {
            if (rd().isOn(TraceLevel::MODERATE)) {
                std::string text = e.toString();
                Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 2, "message processing failed",
                                       text.c_str());
            }
            reply = IPCMessage(id, IPCMessage::STATUS_EXCEPTION, e.getMessage());
        }
        int length = 0;
        reply.getMessageBytes(buffer, &length);
        ssize_t sent;
        do {
            sent = ::send(socket, buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent != length) {
            result = sent < 0 ? errno : EIO;
            EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0086_WRITE_FAILED", serviceName,
                                                      KorrUtils::getLastErrorMessage(static_cast<int>(result))));
            break;
        }
        state.setProcessingMessage(false);
    }
    state.setProcessingMessage(false);
    // The listener closes the socket only when it next accepts a client; until then the
    // client must not wait for replies that no thread will write.
    ::shutdown(socket, SHUT_RDWR);
    if (rd().isFlowOn()) {
        std::string text = std::to_string(result);
        Trace::traceMethodExit(rd(), this, "run", &text, "long");
    }
    return result;
}
