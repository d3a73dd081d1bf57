#include "KorrThreadImpl.h"

#include <cerrno>
#include <typeinfo>
#include <unistd.h>
#include <sys/syscall.h>

#include <atomic>

#include "EventLog.h"
#include "FFDC.h"
#include "KorrException.h"
#include "KorrRunnable.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

struct KorrThreadImpl::Control {
    KorrRunnable* runnable;
    std::atomic<bool> finished{false};
    std::atomic<long> exitCode{KorrThread::STILL_ACTIVE};
};

namespace {

const RasDescriptorSlot rdSlot("KorrThreadImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

long runWrapped(KorrRunnable* runnable)
{
    try {
        return static_cast<long>(static_cast<int>(runnable->run())); // low 32 bits
    } catch (const KorrException& e) {
        if (rd().isOn(TraceLevel::MODERATE)) {
            std::string text = e.toString();
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, nullptr, "clientThreadWrapper", 2,
                                   "Uncaught exception", text.c_str());
        }
        EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0149_UNCAUGHT_EXCEPTION", e.toString()));
        FFDC::capture(rd(), nullptr, "clientThreadWrapper", FFDC::PROBE_001(), &e, 1, typeid(*runnable).name());
        return -1;
    }
}

// Entry of every thread that start() creates.
void* clientThreadWrapper(void* argument)
{
    std::shared_ptr<KorrThreadImpl::Control> control(
        *static_cast<std::shared_ptr<KorrThreadImpl::Control>*>(argument));
    delete static_cast<std::shared_ptr<KorrThreadImpl::Control>*>(argument);
    if (rd().isFlowOn()) {
        std::string p = Trace::pointerText(control->runnable);
        Trace::traceMethodEntry(rd(), nullptr, "clientThreadWrapper", 1, p.c_str());
    }
    long code = runWrapped(control->runnable);
    if (rd().isFlowOn()) {
        std::string text = std::to_string(code);
        Trace::traceMethodExit(rd(), nullptr, "clientThreadWrapper", &text, "long");
    }
    control->exitCode.store(code);
    control->finished.store(true);
    return nullptr;
}

KorrException failure(const char* method, const char* key, long code)
{
    KorrException e(NLS::format(rd(), key, std::to_string(code)));
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    return e;
}

} // namespace

unsigned int KorrThread::getCurrentThreadId() { return KorrThreadImpl::getCurrentThreadId(); }

unsigned int KorrThreadImpl::getCurrentThreadId()
{
    static thread_local unsigned int id = static_cast<unsigned int>(syscall(SYS_gettid));
    return id;
}

KorrThreadImpl::KorrThreadImpl(KorrRunnable* r) : KorrThread(r), thread(), started(false), joined(false), stopped(false)
{
}

KorrThreadImpl::~KorrThreadImpl()
{
    if (started && !joined) {
        pthread_detach(thread);
    }
}

void KorrThreadImpl::start()
{
    auto fresh = std::make_shared<Control>();
    fresh->runnable = getRunnable();
    auto* argument = new std::shared_ptr<Control>(fresh);
    pthread_t created;
    int rc = pthread_create(&created, nullptr, clientThreadWrapper, argument);
    if (rc != 0) {
        delete argument;
        throw failure("start", "ZRKNV0013_UNABLE_TO_CREATE_THREAD", rc);
    }
    if (started && !joined) {
        pthread_detach(thread); // a second start replaces the handle of the first thread
    }
    thread = created;
    control = fresh;
    started = true;
    joined = false;
    stopped = false;
}

void KorrThreadImpl::requireStarted(const char* method, const char* key)
{
    if (!started) {
        throw failure(method, key, ESRCH);
    }
}

void KorrThreadImpl::stop()
{
    requireStarted("stop", "ZRKNV0014_UNABLE_TO_TERMINATE_THREAD");
    if (!control->finished.load()) {
        getRunnable()->requestStop();
    }
    join();
    stopped = true;
}

void KorrThreadImpl::join()
{
    requireStarted("join", "ZRKNV0015_WAIT_FOR_THREAD_FAILED");
    if (joined) {
        return;
    }
    int rc = pthread_join(thread, nullptr);
    if (rc != 0) {
        throw failure("join", "ZRKNV0015_WAIT_FOR_THREAD_FAILED", rc);
    }
    joined = true;
}

bool KorrThreadImpl::isAlive()
{
    requireStarted("isAlive", "ZRKNV0017_UNABLE_TO_GET_EXIT_CODE");
    return !control->finished.load();
}

long KorrThreadImpl::getExitCode()
{
    requireStarted("getExitCode", "ZRKNV0017_UNABLE_TO_GET_EXIT_CODE");
    if (!control->finished.load()) {
        return STILL_ACTIVE;
    }
    return stopped ? 0 : control->exitCode.load();
}
