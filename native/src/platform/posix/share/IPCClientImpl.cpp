#include "IPCClientImpl.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include <vector>

#include "FFDC.h"
#include "IPCEndpoint.h"
#include "IPCNotFoundException.h"
#include "IPCTimeoutException.h"
#include "KorrException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("IPCClientImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

// How long a server whose backlog is full is waited for, as a busy pipe is elsewhere.
const int BUSY_WAIT_SECONDS = 20;

template <class E>
E thrown(const char* method, E e)
{
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    return e;
}

} // namespace

IPCClient* IPCClient::newInstance(const std::string& serviceName, NativeProperties& properties)
{
    return new IPCClientImpl(serviceName, &properties);
}

IPCClient* IPCClient::newInstance(const std::string& serviceName)
{
    return new IPCClientImpl(serviceName, nullptr);
}

IPCClient* IPCClient::newInstance(const std::string& serviceName, const std::string& serverUser)
{
    return new IPCClientImpl(serviceName, nullptr, serverUser);
}

IPCClientImpl::IPCClientImpl(const std::string& serviceName, NativeProperties* properties,
                             const std::string& user)
    : IPCClient(serviceName, properties), socket(-1), serverUser(user)
{
}

IPCClientImpl::~IPCClientImpl()
{
    if (socket >= 0) {
        ::close(socket);
    }
}

// Connects a non-blocking socket, so that a full backlog reports EAGAIN instead of blocking;
// returns the connected socket, or -1 with errno set.
int IPCClientImpl::openSocket(const std::string& path)
{
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);   // length checked by socketPath
    int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) {
        return -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(BUSY_WAIT_SECONDS);
    while (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN || std::chrono::steady_clock::now() >= deadline) {
            int saved = errno;
            ::close(s);
            errno = saved;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return s;
}

// The users whose servers this client trusts and the directories it looks in, in order.
bool IPCClientImpl::trustedServers(std::vector<uid_t>& users, std::vector<uid_t>& places)
{
    const uid_t self = ::geteuid();
    users = {self, 0};
    if (!serverUser.empty()) {
        struct passwd entry;
        struct passwd* found = nullptr;
        char buffer[4096];
        if (::getpwnam_r(serverUser.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
            return false;
        }
        users.push_back(found->pw_uid);
        places = {found->pw_uid};
    } else if (self == 0) {
        places = {0};
    } else {
        places = {self, 0};
    }
    return true;
}

// A packet already queued for us, read without waiting; a reset reported ahead of it is
// passed over. -1 or 0 when there is none.
ssize_t IPCClientImpl::pendingReply(unsigned char* buffer, std::size_t size)
{
    ssize_t got = ::recv(socket, buffer, size, MSG_DONTWAIT);
    if (got < 0 && errno == ECONNRESET) {
        got = ::recv(socket, buffer, size, MSG_DONTWAIT);
    }
    return got;
}

void IPCClientImpl::connect() { establish(true); }

bool IPCClientImpl::connectIfServed() { return establish(false); }

bool IPCClientImpl::establish(bool required)
{
    std::string serviceName = getServiceName();
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "connect", 1, serviceName.c_str());
    }
    if (socket >= 0) {
        KorrException e(NLS::format(rd(), "ZRKNV0065_ALREADY_CONNECTED"));
        FFDC::capture(rd(), this, "connect", FFDC::PROBE_002(), &e);
        throw thrown("connect", e);
    }
    std::string shortName = IPC::shortName(serviceName);
    std::vector<uid_t> users;
    std::vector<uid_t> places;
    if (!trustedServers(users, places)) {
        throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0066_OPEN_ERROR", shortName,
                                                          "no user named " + serverUser)));
    }
    // One directory for all ($VELBRIX_IPC_DIR) is looked in once.
    if (!KorrUtils::getenv("VELBRIX_IPC_DIR").empty()) {
        places.resize(1);
    }
    std::string path;
    int s = -1;
    int code = ENOENT;
    for (uid_t place : places) {
        path = IPCEndpoint::socketPath(serviceName, place);
        s = openSocket(path);
        code = errno;
        if (s >= 0 || (code != ENOENT && code != ECONNREFUSED)) {
            break;
        }
    }
    if (s < 0) {
        switch (code) {
        case ENOENT:
        case ECONNREFUSED:
            if (!required) {
                if (rd().isFlowOn()) {
                    Trace::traceMethodData(rd(), TraceLevel::FLOW, this, "connect", 1, "Nothing serves the name.");
                    Trace::exit(rd(), "connect");
                }
                return false;
            }
            throw thrown("connect", IPCNotFoundException(NLS::format(rd(), "ZRKNV0066_OPEN_ERROR", shortName,
                                                                     KorrUtils::getLastErrorMessage(code))));
        case EACCES:
        case EPERM:
            throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0177_NOT_AUTHORIZED", shortName)));
        case EAGAIN:
            throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0067_OPEN_TIMEOUT", path,
                                                              std::to_string(BUSY_WAIT_SECONDS))));
        default:
            throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0066_OPEN_ERROR", shortName,
                                                              KorrUtils::getLastErrorMessage(code))));
        }
    }
    // Nothing is sent to a server of a user this client does not trust: it may be an impostor
    // that bound the name first. A trusted server that will not serve us is named as well.
    uid_t server = 0;
    if (!IPCEndpoint::peerUid(s, server)) {
        code = errno;
        ::close(s);
        throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0066_OPEN_ERROR", shortName,
                                                          KorrUtils::getLastErrorMessage(code))));
    }
    if (std::find(users.begin(), users.end(), server) == users.end()) {
        ::close(s);
        throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0186_IPC_SERVER_NOT_TRUSTED", shortName,
                                                          IPCEndpoint::userText(server))));
    }
    if (!IPCEndpoint::mayConnect(::geteuid(), server)) {
        ::close(s);
        throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0177_NOT_AUTHORIZED", shortName)));
    }
    int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        KorrException e(NLS::format(rd(), "ZRKNV0068_PIPE_MODE_CHANGE_ERROR", KorrUtils::getLastErrorMessage()));
        ::close(s);
        FFDC::capture(rd(), this, "connect", FFDC::PROBE_003(), &e);
        throw thrown("connect", e);
    }
    socket = s;
    if (rd().isFlowOn()) {
        std::string text = "CreateFile successful handle is: " + std::to_string(socket);
        Trace::traceMethodData(rd(), TraceLevel::FLOW, this, "connect", 1, text.c_str());
        Trace::exit(rd(), "connect");
    }
    return true;
}

void IPCClientImpl::disconnect()
{
    if (socket < 0) {
        if (rd().isFlowOn()) {
            Trace::traceMethodData(rd(), TraceLevel::FLOW, this, "disconnect", 1, "Pipe already closed.");
        }
        return;
    }
    ::close(socket);
    socket = -1;
}

IPCMessage IPCClientImpl::sendMessage(const IPCMessage& request, long pollInterval)
{
    return sendMessage(request, pollInterval, -1);
}

IPCMessage IPCClientImpl::sendMessage(const IPCMessage& request, long pollInterval, long limit)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit < 0 ? 0 : limit);
    if (socket < 0) {
        KorrException e(NLS::format(rd(), "ZRKNV0062_NOT_CONNECTED"));
        FFDC::capture(rd(), this, "sendMessage", FFDC::PROBE_001(), &e);
        throw thrown("sendMessage", e);
    }
    // The interval only sets how often the wait looks again; poll() returns as soon as the
    // reply is there. Non-positive values would spin, so they count as 1 like -1 does.
    int interval = pollInterval <= 0 ? 1 : (pollInterval > 1000000 ? 1000000 : static_cast<int>(pollInterval));
    if (pollInterval == -1 && rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "sendMessage", 2, "Timeout changed to ", "1");
    }
    unsigned char buffer[IPCMessage::MAX_MESSAGE_DATA_LEN];
    int length = 0;
    request.getMessageBytes(buffer, &length);
    ssize_t sent;
    do {
        sent = ::send(socket, buffer, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != length) {
        int code = sent < 0 ? errno : EIO;
        // A server that refused the connection (too many clients) left its reason behind.
        ssize_t got = pendingReply(buffer, sizeof buffer);
        if (got > 0) {
            return IPCMessage(buffer, static_cast<unsigned int>(got));
        }
        throw thrown("sendMessage", KorrException(NLS::format(rd(), "ZRKNV0063_WRITE_FAILED",
                                                              KorrUtils::getLastErrorMessage(code))));
    }
    if (rd().isFlowOn()) {
        Trace::traceMethodData(rd(), TraceLevel::FLOW, this, "sendMessage", 1, "Message sent to server, receiving reply");
    }
    for (;;) {
        pollfd ready = {socket, POLLIN, 0};
        int wait = interval;
        if (limit >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                // The reply may still come: closing the connection keeps it from ever being
                // read as the answer to a later request.
                disconnect();
                throw thrown("sendMessage", IPCTimeoutException(NLS::format(rd(), "ZRKNV0198_NO_REPLY_IN_TIME",
                                                                            std::to_string(limit))));
            }
            wait = left.count() < wait ? static_cast<int>(left.count()) : wait;
        }
        int polled = ::poll(&ready, 1, wait);
        if (polled == 0 || (polled < 0 && errno == EINTR)) {
            continue;
        }
        if (polled < 0) {
            throw thrown("sendMessage", KorrException(NLS::format(rd(), "ZRKNV0064_READ_FAILED",
                                                                  KorrUtils::getLastErrorMessage())));
        }
        ssize_t got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            continue;
        }
        if (got < 0 && errno == ECONNRESET) {
            // Closed with our request unread; a refusal it sent first is still queued.
            int code = errno;
            got = pendingReply(buffer, sizeof buffer);
            errno = code;
        }
        if (got < 0) {
            throw thrown("sendMessage", KorrException(NLS::format(rd(), "ZRKNV0064_READ_FAILED",
                                                                  KorrUtils::getLastErrorMessage())));
        }
        if (got == 0) {
            // The server went away before answering: a failure, never an empty success.
            throw thrown("sendMessage", KorrException(NLS::format(rd(), "ZRKNV0064_READ_FAILED",
                                                                  KorrUtils::getLastErrorMessage(ECONNRESET))));
        }
        // One packet is one whole reply; a short one fails to decode and says so.
        return IPCMessage(buffer, static_cast<unsigned int>(got));
    }
}
