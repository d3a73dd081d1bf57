#include "KorrThreadSyncImpl.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "FFDC.h"
#include "KorrException.h"
#include "KorrThread.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

// A debug descriptor: the monitor sits under the trace machinery and must not re-enter it.
const RasDescriptorSlot rdSlot("KorrThreadSyncImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages", nullptr);

const RasDescriptor& rd() { return rdSlot.get(); }

// A failed lock or unlock of our own mutex is a bug (double unlock, corrupted object), not a
// runtime condition: stop at once rather than run unsynchronised.
void check(int rc)
{
    if (rc != 0) {
        std::abort();
    }
}

KorrException failure(const char* key, long code)
{
    KorrException e(NLS::format(rd(), key, std::to_string(code)));
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), "wait", &e);
    }
    return e;
}

} // namespace

KorrThreadSyncImpl::KorrThreadSyncImpl() : owner(0), holdCount(0), generation(0)
{
    check(pthread_mutex_init(&mutex, nullptr));
    pthread_condattr_t attributes;
    check(pthread_condattr_init(&attributes));
    check(pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC));
    int rc = pthread_cond_init(&condition, &attributes);
    pthread_condattr_destroy(&attributes);
    if (rc != 0) {
        pthread_mutex_destroy(&mutex);
        throw failure("ZRKNV0008_UNABLE_TO_CREATE_EVENT", rc);
    }
}

KorrThreadSyncImpl::~KorrThreadSyncImpl()
{
    pthread_cond_destroy(&condition);
    pthread_mutex_destroy(&mutex);
}

void KorrThreadSyncImpl::lock()
{
    unsigned int self = KorrThread::getCurrentThreadId();
    if (owner.load(std::memory_order_relaxed) == self) {
        ++holdCount;
        return;
    }
    check(pthread_mutex_lock(&mutex));
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
        check(pthread_mutex_unlock(&mutex));
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
    // The monitor is wholly free while we wait: the mutex is released by the condition wait.
    owner.store(0, std::memory_order_relaxed);
    holdCount = 0;

    timespec deadline{};
    if (timeout > 0) {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += timeout / 1000;
        deadline.tv_nsec += (timeout % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
    }
    int result = -1;
    int rc = 0;
    while (generation == seen) {
        rc = timeout < 0 ? pthread_cond_wait(&condition, &mutex)
                         : pthread_cond_timedwait(&condition, &mutex, &deadline);
        if (rc != 0) {
            break;
        }
    }
    if (generation != seen) {
        result = 0;
        rc = 0;
    }
    // Whatever happened we hold the mutex again; restore the hold before any throw, so that
    // the caller's Synchronize releases it correctly.
    owner.store(self, std::memory_order_relaxed);
    holdCount = saved;
    if (rc != 0 && rc != ETIMEDOUT) {
        throw failure("ZRKNV0011_WAIT_FOR_EVENT_FAILED", rc);
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
        check(pthread_mutex_lock(&mutex));
    }
    ++generation;
    int rc = pthread_cond_broadcast(&condition);
    if (!held) {
        check(pthread_mutex_unlock(&mutex));
    }
    if (rc != 0) {
        throw failure("ZRKNV0009_UNABLE_TO_SET_EVENT", rc);
    }
}
