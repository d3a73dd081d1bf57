#include "IPCClientImpl.h"

#include "FFDC.h"
#include "IPCNotFoundException.h"
#include "IPCTimeoutException.h"
#include "KorrException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Trace.h"

#include <windows.h>

#include <chrono>
#include <vector>

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("IPCClientImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

// How long one wait for a busy pipe lasts.
const DWORD BUSY_WAIT_MS = 20000;

template <class E>
E thrown(const char* method, E e)
{
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    return e;
}

KorrException failure(const char* key, DWORD code)
{
    return KorrException(NLS::format(rd(), key, KorrUtils::getLastErrorMessage(static_cast<int>(code))));
}

// Closes the event of an overlapped operation that may still be pending: the operation is
// cancelled and waited for first, as the kernel writes into the record until it ends.
class PendingIo
{
public:
    explicit PendingIo(HANDLE h) : handle(h), overlapped(), pending(false)
    {
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~PendingIo()
    {
        if (pending) {
            DWORD ignored;
            CancelIoEx(handle, &overlapped);
            GetOverlappedResult(handle, &overlapped, &ignored, TRUE);
        }
        if (overlapped.hEvent) {
            CloseHandle(overlapped.hEvent);
        }
    }
    // Runs the operation to its end, looking every interval ms; false with the error then.
    // With a limit (>= 0) it gives up at the deadline: ERROR_TIMEOUT, and the operation is
    // cancelled when this object goes.
    bool complete(BOOL started, DWORD interval, DWORD& done, DWORD& error, long limit = -1,
                  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point())
    {
        done = 0;
        error = 0;
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            error = GetLastError();
            return false;
        }
        pending = true;
        for (;;) {
            DWORD wait = interval;
            if (limit >= 0) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    error = ERROR_TIMEOUT;
                    return false;
                }
                wait = left.count() < static_cast<long long>(wait) ? static_cast<DWORD>(left.count()) : wait;
            }
            if (WaitForSingleObject(overlapped.hEvent, wait) != WAIT_TIMEOUT) {
                break;
            }
        }
        pending = false;
        if (!GetOverlappedResult(handle, &overlapped, &done, TRUE)) {
            error = GetLastError();
            return false;
        }
        return true;
    }
    HANDLE handle;
    OVERLAPPED overlapped;
    bool pending;
};

// Errors of a pipe whose server end has closed.
bool serverClosed(DWORD error)
{
    return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

// A reply the server left queued before it closed its end (a refusal says why there); 0
// when none is there. Queued data is read at once, so the wait is short.
DWORD pendingReply(HANDLE pipe, unsigned char* buffer, DWORD size)
{
    PendingIo read(pipe);
    if (!read.overlapped.hEvent) {
        return 0;
    }
    DWORD done = 0;
    DWORD error = 0;
    const long limit = 100;
    BOOL started = ReadFile(pipe, buffer, size, nullptr, &read.overlapped);
    if (!read.complete(started, static_cast<DWORD>(limit), done, error, limit,
                       std::chrono::steady_clock::now() + std::chrono::milliseconds(limit)) &&
        error != ERROR_MORE_DATA) {
        return 0;
    }
    return done;
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
                             const std::string& serverUser)
    : IPCClient(serviceName, properties), pipe(nullptr), serverUser(serverUser)
{
}

namespace {

// Longest pipe path Windows takes.
const std::size_t MAX_PIPE_PATH = 256;

// The user of the process that serves the pipe, copied into sid; false when it cannot be told.
bool serverSid(HANDLE pipe, std::vector<unsigned char>& sid)
{
    ULONG pid = 0;
    if (!GetNamedPipeServerProcessId(pipe, &pid)) {
        return false;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) {
        return false;
    }
    HANDLE token = nullptr;
    bool ok = OpenProcessToken(process, TOKEN_QUERY, &token) != 0;
    CloseHandle(process);
    if (!ok) {
        return false;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    ok = GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != 0;
    CloseHandle(token);
    if (!ok) {
        return false;
    }
    PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const unsigned char* bytes = static_cast<const unsigned char*>(user);
    sid.assign(bytes, bytes + GetLengthSid(user));
    return true;
}

// This process's own user.
bool ownSid(std::vector<unsigned char>& sid)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    bool ok = GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != 0;
    CloseHandle(token);
    if (!ok) {
        return false;
    }
    PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const unsigned char* bytes = static_cast<const unsigned char*>(user);
    sid.assign(bytes, bytes + GetLengthSid(user));
    return true;
}

// The user an account name stands for.
bool accountSid(const std::string& account, std::vector<unsigned char>& sid)
{
    unsigned char named[SECURITY_MAX_SID_SIZE];
    DWORD namedSize = sizeof(named);
    char domain[256];
    DWORD domainSize = sizeof(domain);
    SID_NAME_USE use;
    if (!LookupAccountNameA(nullptr, account.c_str(), named, &namedSize, domain, &domainSize, &use)) {
        return false;
    }
    sid.assign(named, named + GetLengthSid(named));
    return true;
}

// A server is trusted when it runs as LocalSystem, as this client's user, or as the user the
// client was created for.
bool trustedSid(PSID server, const std::string& serverUser)
{
    std::vector<unsigned char> own;
    if (ownSid(own) && EqualSid(server, own.data())) {
        return true;
    }
    unsigned char system[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(system);
    if (CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size) && EqualSid(server, system)) {
        return true;
    }
    std::vector<unsigned char> named;
    return !serverUser.empty() && accountSid(serverUser, named) && EqualSid(server, named.data());
}

// DOMAIN\name of a user, or its string form when it has no name.
std::string accountText(PSID sid)
{
    char name[256];
    char domain[256];
    DWORD nameSize = sizeof(name);
    DWORD domainSize = sizeof(domain);
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        return domainSize ? std::string(domain) + "\\" + name : std::string(name);
    }
    return "?";
}

} // namespace

IPCClientImpl::~IPCClientImpl()
{
    if (pipe) {
        CloseHandle(pipe);
    }
}

void IPCClientImpl::connect()
{
    std::string serviceName = getServiceName();
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "connect", 1, serviceName.c_str());
    }
    if (pipe) {
        KorrException e(NLS::format(rd(), "ZRKNV0065_ALREADY_CONNECTED"));
        FFDC::capture(rd(), this, "connect", FFDC::PROBE_002(), &e);
        throw thrown("connect", e);
    }
    const std::string pipeName = "\\\\.\\pipe\\" + serviceName;
    const std::string shortName = IPC::shortName(serviceName);
    // Names are plain words, as on every platform: no path, nothing longer than a pipe name.
    if (serviceName.empty() || serviceName == "." || serviceName == ".." ||
        serviceName.find_first_of("/\\") != std::string::npos || serviceName.find('\0') != std::string::npos ||
        pipeName.size() > MAX_PIPE_PATH) {
        throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0178_INVALID_IPC_NAME", serviceName, pipeName,
                                                          std::to_string(MAX_PIPE_PATH))));
    }
    std::vector<unsigned char> named;
    if (!serverUser.empty() && !accountSid(serverUser, named)) {
        throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0066_OPEN_ERROR", shortName,
                                                          "no user named " + serverUser)));
    }
    HANDLE h;
    for (;;) {
        // Identification only: a server that is not who we think cannot act as this client.
        h = CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            break;
        }
        DWORD code = GetLastError();
        switch (code) {
        case ERROR_FILE_NOT_FOUND:
            throw thrown("connect", IPCNotFoundException(NLS::format(rd(), "ZRKNV0066_OPEN_ERROR", shortName,
                                                                     KorrUtils::getLastErrorMessage(static_cast<int>(code)))));
        case ERROR_ACCESS_DENIED:
            throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0177_NOT_AUTHORIZED", shortName)));
        case ERROR_PIPE_BUSY:
            // A server that went away meanwhile is found missing by the next open.
            if (!WaitNamedPipeA(pipeName.c_str(), BUSY_WAIT_MS) && GetLastError() != ERROR_FILE_NOT_FOUND) {
                throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0067_OPEN_TIMEOUT", pipeName,
                                                                  std::to_string(BUSY_WAIT_MS / 1000))));
            }
            continue;
        default:
            throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0066_OPEN_ERROR", shortName,
                                                              KorrUtils::getLastErrorMessage(static_cast<int>(code)))));
        }
    }
    // Nothing is sent to a server of a user this client does not trust: it may be an impostor
    // that created the pipe name first.
    std::vector<unsigned char> server;
    if (!serverSid(h, server)) {
        DWORD code = GetLastError();
        CloseHandle(h);
        throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0066_OPEN_ERROR", shortName,
                                                          KorrUtils::getLastErrorMessage(static_cast<int>(code)))));
    }
    if (!trustedSid(server.data(), serverUser)) {
        CloseHandle(h);
        throw thrown("connect", KorrException(NLS::format(rd(), "ZRKNV0186_IPC_SERVER_NOT_TRUSTED", shortName,
                                                          accountText(server.data()))));
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(h, &mode, nullptr, nullptr)) {
        KorrException e(NLS::format(rd(), "ZRKNV0068_PIPE_MODE_CHANGE_ERROR", KorrUtils::getLastErrorMessage()));
        CloseHandle(h);
        FFDC::capture(rd(), this, "connect", FFDC::PROBE_003(), &e);
        throw thrown("connect", e);
    }
    pipe = h;
    if (rd().isFlowOn()) {
        std::string text = "CreateFile successful handle is: " + Trace::pointerText(pipe);
        Trace::traceMethodData(rd(), TraceLevel::FLOW, this, "connect", 1, text.c_str());
        Trace::exit(rd(), "connect");
    }
}

void IPCClientImpl::disconnect()
{
    if (!pipe) {
        if (rd().isFlowOn()) {
            Trace::traceMethodData(rd(), TraceLevel::FLOW, this, "disconnect", 1, "Pipe already closed.");
        }
        return;
    }
    CloseHandle(pipe);
    pipe = nullptr;
}

IPCMessage IPCClientImpl::sendMessage(const IPCMessage& request, long pollInterval)
{
    return sendMessage(request, pollInterval, -1);
}

IPCMessage IPCClientImpl::sendMessage(const IPCMessage& request, long pollInterval, long limit)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit < 0 ? 0 : limit);
    // A reply that missed the limit may still come: the connection is closed, once the
    // pending operation has been cancelled, so that it is never read as a later answer.
    struct CloseWhenTimedOut {
        IPCClientImpl& client;
        bool armed;
        ~CloseWhenTimedOut()
        {
            if (armed) {
                client.disconnect();
            }
        }
    } closer{*this, false};
    auto timedOut = [&]() {
        closer.armed = true;
        return thrown("sendMessage", IPCTimeoutException(NLS::format(rd(), "ZRKNV0198_NO_REPLY_IN_TIME",
                                                                     std::to_string(limit))));
    };
    if (!pipe) {
        KorrException e(NLS::format(rd(), "ZRKNV0062_NOT_CONNECTED"));
        FFDC::capture(rd(), this, "sendMessage", FFDC::PROBE_001(), &e);
        throw thrown("sendMessage", e);
    }
    // The interval only sets how often the wait looks again; the wait returns as soon as
    // the reply is there. Non-positive values count as 1, like -1.
    DWORD interval = pollInterval <= 0 ? 1 : (pollInterval > 1000000 ? 1000000 : static_cast<DWORD>(pollInterval));
    if (pollInterval == -1 && rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "sendMessage", 2, "Timeout changed to ", "1");
    }
    unsigned char buffer[IPCMessage::MAX_MESSAGE_DATA_LEN];
    int length = 0;
    request.getMessageBytes(buffer, &length);
    DWORD done = 0;
    DWORD error = 0;
    {
        PendingIo write(pipe);
        if (!write.overlapped.hEvent) {
            throw thrown("sendMessage", failure("ZRKNV0063_WRITE_FAILED", GetLastError()));
        }
        BOOL started = WriteFile(pipe, buffer, static_cast<DWORD>(length), nullptr, &write.overlapped);
        if (!write.complete(started, interval, done, error, limit, deadline) || done != static_cast<DWORD>(length)) {
            if (error == ERROR_TIMEOUT) {
                throw timedOut();
            }
            // A server that refused the connection (too many clients) left its reason behind.
            DWORD got = serverClosed(error) ? pendingReply(pipe, buffer, sizeof buffer) : 0;
            if (got > 0) {
                return IPCMessage(buffer, got);
            }
            throw thrown("sendMessage", failure("ZRKNV0063_WRITE_FAILED", error ? error : ERROR_WRITE_FAULT));
        }
    }
    if (rd().isFlowOn()) {
        Trace::traceMethodData(rd(), TraceLevel::FLOW, this, "sendMessage", 1, "Message sent to server, receiving reply");
    }
    PendingIo read(pipe);
    if (!read.overlapped.hEvent) {
        throw thrown("sendMessage", failure("ZRKNV0063_WRITE_FAILED", GetLastError()));
    }
    BOOL started = ReadFile(pipe, buffer, sizeof buffer, nullptr, &read.overlapped);
    if (!read.complete(started, interval, done, error, limit, deadline)) {
        if (error == ERROR_TIMEOUT) {
            throw timedOut();
        }
        // Closed with our request unread; a refusal it sent first may still be queued.
        if (serverClosed(error)) {
            done = pendingReply(pipe, buffer, sizeof buffer);
            if (done > 0) {
                return IPCMessage(buffer, done);
            }
        }
        // A reply longer than any message is cut to its first bytes, which fail to decode.
        if (error != ERROR_MORE_DATA) {
            // The server went away before answering: a failure, never an empty success.
            throw thrown("sendMessage", failure("ZRKNV0064_READ_FAILED", error));
        }
    }
    if (done == 0) {
        throw thrown("sendMessage", failure("ZRKNV0064_READ_FAILED", ERROR_HANDLE_EOF));
    }
    // One message is one whole reply; a short one fails to decode and says so.
    return IPCMessage(buffer, static_cast<unsigned int>(done));
}
