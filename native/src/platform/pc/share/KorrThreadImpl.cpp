#include "KorrThreadImpl.h"

#include <windows.h>
#undef STILL_ACTIVE // a macro there; KorrThread::STILL_ACTIVE here
#include <process.h>

#include <cerrno>

#include <string>
#include <typeinfo>

#include "EventLog.h"
#include "FFDC.h"
#include "KorrException.h"
#include "KorrRunnable.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Trace.h"

struct KorrThreadImpl::Control {
    KorrRunnable* runnable;
};

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("KorrThreadImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

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

// Entry of every thread that start() creates; its return value is the thread's exit code.
unsigned __stdcall clientThreadWrapper(void* argument)
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
    return static_cast<unsigned>(code);
}

KorrException failure(const char* method, const char* key, unsigned long code)
{
    KorrException e(NLS::format(rd(), key, std::to_string(code)));
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    return e;
}

} // namespace

unsigned int KorrThread::getCurrentThreadId() { return KorrThreadImpl::getCurrentThreadId(); }

unsigned int KorrThreadImpl::getCurrentThreadId() { return static_cast<unsigned int>(::GetCurrentThreadId()); }

KorrThreadImpl::KorrThreadImpl(KorrRunnable* r) : KorrThread(r), thread(nullptr), joined(false), stopped(false) {}

KorrThreadImpl::~KorrThreadImpl()
{
    if (thread) {
        CloseHandle(thread); // a running thread goes on; it owns its share of the control
    }
}

void KorrThreadImpl::start()
{
    auto fresh = std::make_shared<Control>();
    fresh->runnable = getRunnable();
    auto* argument = new std::shared_ptr<Control>(fresh);
    uintptr_t created = _beginthreadex(nullptr, 0, clientThreadWrapper, argument, 0, nullptr);
    if (created == 0) {
        delete argument;
        throw failure("start", "ZRKNV0013_UNABLE_TO_CREATE_THREAD", static_cast<unsigned long>(errno));
    }
    if (thread) {
        CloseHandle(thread); // a second start replaces the handle of the first thread
    }
    thread = reinterpret_cast<void*>(created);
    control = fresh;
    joined = false;
    stopped = false;
}

void KorrThreadImpl::requireStarted(const char* method, const char* key)
{
    if (!thread) {
        throw failure(method, key, ERROR_INVALID_HANDLE);
    }
}

void KorrThreadImpl::stop()
{
    requireStarted("stop", "ZRKNV0014_UNABLE_TO_TERMINATE_THREAD");
    if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
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
    if (WaitForSingleObject(thread, INFINITE) != WAIT_OBJECT_0) {
        throw failure("join", "ZRKNV0015_WAIT_FOR_THREAD_FAILED", GetLastError());
    }
    joined = true;
}

bool KorrThreadImpl::isAlive()
{
    requireStarted("isAlive", "ZRKNV0017_UNABLE_TO_GET_EXIT_CODE");
    return WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
}

long KorrThreadImpl::getExitCode()
{
    requireStarted("getExitCode", "ZRKNV0017_UNABLE_TO_GET_EXIT_CODE");
    // A runnable may itself return 259: whether the thread still runs is asked separately.
    if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
        return STILL_ACTIVE;
    }
    DWORD code = 0;
    if (!GetExitCodeThread(thread, &code)) {
        throw failure("getExitCode", "ZRKNV0017_UNABLE_TO_GET_EXIT_CODE", GetLastError());
    }
    return stopped ? 0 : static_cast<long>(static_cast<int>(code));
}
