#include "IPCClientConnectionListener.h"

#include "EventLog.h"
#include "IPCClientRunnable.h"
#include "IPCMessage.h"
#include "KorrException.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "SecurityData.h"
#include "Synchronize.h"
#include "Trace.h"

#include <windows.h>

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("IPCClientConnectionListener", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

// After a failed instance or connection the loop waits this long (or until woken) before
// trying again, rather than spinning or giving up serving for good.
const DWORD RETRY_PAUSE_MS = 1000;

// Longest wait for room in the pipe for a refusal: a client that never reads cannot hold
// the loop that accepts the others.
const DWORD REFUSAL_WRITE_MS = 1000;

void traceData(const void* object, const char* text, const std::string& value = std::string())
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, object, "run", 2, text, value.c_str());
    }
}

std::string errorText(DWORD code) { return KorrUtils::getLastErrorMessage(static_cast<int>(code)); }

// Leaves a client over the limit a reply that says why, then closes the instance without
// DisconnectNamedPipe, which would throw away the reply the client has not read yet.
void refuse(HANDLE instance, const std::string& text)
{
    IPCMessage refusal(0, IPCMessage::STATUS_EXCEPTION, text);
    unsigned char buffer[IPCMessage::MAX_MESSAGE_DATA_LEN];
    int length = 0;
    refusal.getMessageBytes(buffer, &length);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent) {
        if (!WriteFile(instance, buffer, static_cast<DWORD>(length), nullptr, &overlapped) &&
            GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(overlapped.hEvent, REFUSAL_WRITE_MS) != WAIT_OBJECT_0) {
                CancelIoEx(instance, &overlapped);
            }
            // The record stays in use until the write has ended, cancelled or not.
            DWORD ignored = 0;
            GetOverlappedResult(instance, &overlapped, &ignored, TRUE);
        }
        CloseHandle(overlapped.hEvent);
    }
    CloseHandle(instance);
}

} // namespace

IPCClientConnectionListener::IPCClientConnectionListener(const std::string& name, IPCListener& l, int max,
                                                         const std::string&)
    : serviceName(name), listener(l), idleLimit(-1), clients(rd(), name, max),
      wakeEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

IPCClientConnectionListener::~IPCClientConnectionListener()
{
    shutdown();
    if (wakeEvent) {
        CloseHandle(wakeEvent);
    }
}

bool IPCClientConnectionListener::shutdown()
{
    state.setShutdownRequested(true);
    return wakeEvent && SetEvent(wakeEvent);
}

long IPCClientConnectionListener::run()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "run", 1, serviceName.c_str());
    }
    long result = 0;
    std::string message;
    SecurityData security;
    if (!wakeEvent || !security.build()) {
        result = static_cast<long>(GetLastError());
        message = NLS::format(rd(), "ZRKNV0114_SECURITY_SETUP_FAILED", serviceName, errorText(static_cast<DWORD>(result)));
    }
    const std::string pipeName = "\\\\.\\pipe\\" + serviceName;
    bool first = true;
    while (result == 0 && !state.isShutdownRequested()) {
        // Remote clients are refused: the pipe is for this machine's administrators and
        // the server's own account.
        HANDLE instance = CreateNamedPipeA(
            pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            PIPE_UNLIMITED_INSTANCES, IPCMessage::MAX_MESSAGE_DATA_LEN, IPCMessage::MAX_MESSAGE_DATA_LEN, 0,
            security.getAttributes());
        if (instance == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            std::string text = NLS::format(rd(), "ZRKNV0087_CREATE_NAMED_PIPE_FAILED", serviceName, errorText(error));
            if (first) {
                result = static_cast<long>(error);
                message = text;
                break;
            }
            EventLog::errorNoFormat(rd(), text);
            WaitForSingleObject(wakeEvent, RETRY_PAUSE_MS);
            continue;
        }
        if (first) {
            first = false;
            state.setRunning(true);
        }
        traceData(this, "Waiting for a client to connect");
        bool connected = false;
        DWORD error = 0;
        if (!awaitClient(instance, connected, error) || state.isShutdownRequested()) {
            CloseHandle(instance);
            break;
        }
        clients.reap();
        if (!connected) {
            EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0089_CONNECT_NAMED_PIPE_FAILED", serviceName,
                                                      errorText(error)));
            CloseHandle(instance);
            continue;
        }
        serve(instance);
    }
    if (result == 0) {
        traceData(this, "Ended. Removing all currently connected client threads");
        clients.endAll();
    }
    state.setEnded(message);
    if (rd().isFlowOn()) {
        std::string text = std::to_string(result);
        Trace::traceMethodExit(rd(), this, "run", &text, "long");
    }
    return result;
}

bool IPCClientConnectionListener::awaitClient(void* instance, bool& connected, unsigned long& error)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        error = GetLastError();
        WaitForSingleObject(wakeEvent, RETRY_PAUSE_MS);
        return true;
    }
    bool served = true;
    if (ConnectNamedPipe(instance, &overlapped)) {
        connected = true;
    } else {
        error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            connected = true;
            error = 0;
        } else if (error == ERROR_IO_PENDING) {
            HANDLE events[2] = {overlapped.hEvent, wakeEvent};
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIoEx(instance, &overlapped);
                served = false;
            }
            DWORD ignored = 0;
            connected = GetOverlappedResult(instance, &overlapped, &ignored, TRUE) != FALSE;
            error = connected ? 0 : GetLastError();
        }
    }
    CloseHandle(overlapped.hEvent);
    return served;
}

void IPCClientConnectionListener::serve(void* instance)
{
    std::string refusal;
    if (!clients.admit(refusal)) {
        refuse(instance, refusal);
        return;
    }
    traceData(this, "Client connected, creating a processing thread.");
    clients.start(new IPCClientRunnable(serviceName, instance, listener, idleLimit));
}
