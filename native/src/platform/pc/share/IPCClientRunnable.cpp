#include "IPCClientRunnable.h"

#include "EventLog.h"
#include "IPCListener.h"
#include "IPCMessage.h"
#include "KorrException.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Synchronize.h"
#include "Trace.h"

#include <windows.h>

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("IPCClientRunnable", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

// A reply that the client does not take is given up this long after shutdown was asked
// for, so that a client which never reads cannot hold up the server's disconnect.
const int REPLY_GRACE_SLICES = 5;
const DWORD SLICE_MS = 1000;

std::string errorText(DWORD code) { return KorrUtils::getLastErrorMessage(static_cast<int>(code)); }

} // namespace

IPCClientRunnable::IPCClientRunnable(const std::string& name, void* handle, IPCListener& l, long idle)
    : serviceName(name), pipe(handle), listener(l), idleLimit(idle),
      ioEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      stopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

IPCClientRunnable::~IPCClientRunnable()
{
    if (ioEvent) {
        CloseHandle(ioEvent);
    }
    if (stopEvent) {
        CloseHandle(stopEvent);
    }
}

bool IPCClientRunnable::shutdown() { return state.requestShutdown(); }

void IPCClientRunnable::closeConnection() { CloseHandle(pipe); }

void IPCClientRunnable::requestStop()
{
    state.requestShutdown();
    if (stopEvent) {
        SetEvent(stopEvent);
    }
}

bool IPCClientRunnable::transfer(bool write, void* buffer, DWORD length, DWORD& done, DWORD& error, long limit)
{
    done = 0;
    error = 0;
    if (!ioEvent || !stopEvent) {
        error = ERROR_INVALID_HANDLE;
        return false;
    }
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent;
    ResetEvent(ioEvent);
    BOOL ok = write ? WriteFile(pipe, buffer, length, nullptr, &overlapped)
                    : ReadFile(pipe, buffer, length, nullptr, &overlapped);
    if (!ok && GetLastError() != ERROR_IO_PENDING) {
        error = GetLastError();
        return false;
    }
    HANDLE events[2] = {ioEvent, stopEvent};
    int graceLeft = REPLY_GRACE_SLICES;
    ULONGLONG deadline = limit >= 0 ? GetTickCount64() + static_cast<ULONGLONG>(limit) : 0;
    bool idle = false;
    for (;;) {
        DWORD slice = SLICE_MS;
        if (limit >= 0) {
            ULONGLONG now = GetTickCount64();
            idle = now >= deadline;
            if (!idle && deadline - now < slice) {
                slice = static_cast<DWORD>(deadline - now);
            }
        }
        DWORD woken = idle ? WAIT_TIMEOUT : WaitForMultipleObjects(2, events, FALSE, slice);
        if (woken == WAIT_OBJECT_0) {
            idle = false;
            break;
        }
        bool giveUp = idle || woken == WAIT_OBJECT_0 + 1 || woken == WAIT_FAILED ||
                      (write && woken == WAIT_TIMEOUT && state.isShutdownRequested() && --graceLeft <= 0);
        if (giveUp) {
            CancelIoEx(pipe, &overlapped);
            break;
        }
    }
    // Waits for the operation itself, which has completed or been cancelled by now: the
    // buffer and the record must not go out of scope under a pending transfer.
    if (!GetOverlappedResult(pipe, &overlapped, &done, TRUE)) {
        error = GetLastError();
        if (idle && error == ERROR_OPERATION_ABORTED) {
            error = ERROR_TIMEOUT;
        }
        return false;
    }
    return true;
}

// One whole message. An over-long one is reported and served from its first bytes; the
// rest of it is read and dropped, so it is not taken for the next request.
bool IPCClientRunnable::readMessage(unsigned char* buffer, DWORD& length, DWORD& error)
{
    if (transfer(false, buffer, IPCMessage::MAX_MESSAGE_DATA_LEN, length, error, idleLimit)) {
        return true;
    }
    if (error != ERROR_MORE_DATA) {
        return false;
    }
    EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0085_READ_FAILED", serviceName, errorText(error)));
    length = IPCMessage::MAX_MESSAGE_DATA_LEN;
    unsigned char rest[IPCMessage::MAX_MESSAGE_DATA_LEN];
    DWORD dropped = 0;
    while (!transfer(false, rest, sizeof rest, dropped, error)) {
        if (error != ERROR_MORE_DATA) {
            return false;
        }
    }
    error = 0;
    return true;
}

long IPCClientRunnable::run()
{
    if (rd().isFlowOn()) {
        std::string h = Trace::pointerText(pipe);
        Trace::traceMethodEntry(rd(), this, "run", 2, serviceName.c_str(), h.c_str());
    }
    unsigned char buffer[IPCMessage::MAX_MESSAGE_DATA_LEN];
    long result = 0;
    while (!state.isShutdownRequested()) {
        DWORD got = 0;
        DWORD error = 0;
        bool ok = readMessage(buffer, got, error);
        state.setProcessingMessage(true);
        if (!ok || got == 0) {
            if (ok || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
                if (rd().isOn(TraceLevel::MODERATE)) {
                    Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 1, "client disconnected");
                }
                result = CLIENT_DISCONNECTED;
            } else if (error == ERROR_OPERATION_ABORTED) {
                result = 0; // stopped while waiting for the next request
            } else if (error == ERROR_TIMEOUT) {
                if (rd().isOn(TraceLevel::MODERATE)) {
                    Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 1, "idle connection closed");
                }
                // No reply is pending, so the client may learn at once that its connection went
                // (the listener closes the handle only when it next accepts one).
                DisconnectNamedPipe(pipe);
                result = ERROR_TIMEOUT;
            } else {
                result = static_cast<long>(error);
                EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0085_READ_FAILED", serviceName, errorText(error)));
            }
            break;
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
        DWORD written = 0;
        if (!transfer(true, buffer, static_cast<DWORD>(length), written, error) ||
            written != static_cast<DWORD>(length)) {
            result = error != 0 ? static_cast<long>(error) : ERROR_WRITE_FAULT;
            EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0086_WRITE_FAILED", serviceName,
                                                      errorText(static_cast<DWORD>(result))));
            break;
        }
        state.setProcessingMessage(false);
    }
    state.setProcessingMessage(false);
    // No FlushFileBuffers here: it waits until the client has read everything, which a
    // client that stopped reading would make for ever. Closing the handle (the listener's
    // job) keeps a written reply readable by the client.
    if (rd().isFlowOn()) {
        std::string text = std::to_string(result);
        Trace::traceMethodExit(rd(), this, "run", &text, "long");
    }
    return result;
}
