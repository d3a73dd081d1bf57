#include "KorrThreadSyncImpl.h"

#include <windows.h>
#undef STILL_ACTIVE // a macro there; KorrThread::STILL_ACTIVE here

#include <cstdlib>
#include <string>

#include "FFDC.h"
#include "KorrException.h"
#include "KorrThread.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

// A debug descriptor: the monitor sits under the trace machinery and must not re-enter it.
const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("KorrThreadSyncImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages", nullptr);
    return *d;
}

KorrException failure(const char* key, unsigned long code)
{
    KorrException e(NLS::format(rd(), key, std::to_string(code)));
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), "wait", &e);
    }
    return e;
}

} // namespace

KorrThreadSyncImpl::KorrThreadSyncImpl() : section(new CRITICAL_SECTION), event(nullptr), owner(0), holdCount(0), waiters(0), released(0), generation(0)
{
    InitializeCriticalSection(section);
    event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) {
        DeleteCriticalSection(section);
        delete section;
        throw failure("ZRKNV0008_UNABLE_TO_CREATE_EVENT", GetLastError());
    }
}

KorrThreadSyncImpl::~KorrThreadSyncImpl()
{
    CloseHandle(event);
    DeleteCriticalSection(section);
    delete section;
}

void KorrThreadSyncImpl::lock()
{
    unsigned int self = KorrThread::getCurrentThreadId();
    if (owner.load(std::memory_order_relaxed) == self) {
        ++holdCount;
        return;
    }
    EnterCriticalSection(section);
    owner.store(self, std::memory_order_relaxed);
    holdCount = 1;
}

void KorrThreadSyncImpl::unlock()
{
    if (owner.load(std::memory_order_relaxed) != KorrThread::getCurrentThreadId()) {
        return; // not ours: nothing to release
    }
    if (--holdCount == 0) {
        owner.store(0, std::memory_order_relaxed);
        LeaveCriticalSection(section);
    }
}

int KorrThreadSyncImpl::heldByCaller() const
{
    return owner.load(std::memory_order_relaxed) == KorrThread::getCurrentThreadId() ? holdCount : 0;
}

int KorrThreadSyncImpl::wait(long timeout)
{
    unsigned int self = KorrThread::getCurrentThreadId();
    if (owner.load(std::memory_order_relaxed) != self) {
        KorrException e(NLS::format(rd(), "ZRKNV0171_THREAD_NOT_OWNER"));
        FFDC::capture(rd(), this, "wait", FFDC::PROBE_001(), &e);
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "wait", &e);
        }
        throw e;
    }
    if (timeout == 0) {
        return -1;
    }
    int saved = holdCount;
    unsigned long seen = generation;
    ++waiters;
    // The monitor is wholly free while we wait: the section is held once, whatever the depth.
    owner.store(0, std::memory_order_relaxed);
    holdCount = 0;
    LeaveCriticalSection(section);

    ULONGLONG deadline = timeout > 0 ? GetTickCount64() + static_cast<ULONGLONG>(timeout) : 0;
    int result = -1;
    DWORD failed = 0;
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeout > 0) {
            ULONGLONG now = GetTickCount64();
            remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        DWORD rc = WaitForSingleObject(event, remaining);
        EnterCriticalSection(section);
        if (released > 0 && generation != seen) {
            result = 0; // released by a notifyAll after we began to wait
            break;
        }
        if (rc == WAIT_FAILED) {
            failed = GetLastError();
            break;
        }
        if (rc == WAIT_TIMEOUT) {
            break;
        }
        // The event is still set for waiters of an earlier notification: let them run.
        LeaveCriticalSection(section);
        Sleep(0);
    }
    --waiters;
    if (result == 0 && --released == 0) {
        ResetEvent(event); // the last thread this notification released
    }
    // We hold the section again; restore the hold before any throw, so that the caller's
    // Synchronize releases it correctly.
    owner.store(self, std::memory_order_relaxed);
    holdCount = saved;
    if (failed != 0) {
        throw failure("ZRKNV0011_WAIT_FOR_EVENT_FAILED", failed);
    }
    if (rd().isFlowOn()) {
        std::string text = std::to_string(result);
        Trace::traceMethodExit(rd(), this, "wait", &text, "int");
    }
    return result;
}

void KorrThreadSyncImpl::wait() { wait(-1); }

void KorrThreadSyncImpl::notifyAll()
{
    bool held = owner.load(std::memory_order_relaxed) == KorrThread::getCurrentThreadId();
    if (!held) {
        EnterCriticalSection(section);
    }
    BOOL ok = TRUE;
    if (waiters > 0) {
        // Only the threads waiting now are released; with nobody waiting the call is lost.
        ++generation;
        released = waiters;
        ok = SetEvent(event);
    }
    DWORD code = ok ? 0 : GetLastError();
    if (!held) {
        LeaveCriticalSection(section);
    }
    if (!ok) {
        throw failure("ZRKNV0009_UNABLE_TO_SET_EVENT", code);
    }
}
