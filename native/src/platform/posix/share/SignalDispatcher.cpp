#include "SignalDispatcher.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "EventLog.h"
#include "KorrException.h"
#include "KorrThreadImpl.h"
#include "NLS.h"
#include "ProcessSignalActionHandler.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("SignalDispatcher", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

// Write end of the self-pipe, read by the signal handler; lock-free, so safe to read there.
std::atomic<int> signalPipe{-1};

} // namespace

SignalDispatcher::SignalDispatcher(int r, int w) : readEnd(r), writeEnd(w), handler(nullptr), thread(nullptr) {}

// Created once and never destroyed: signals may arrive until the process ends.
SignalDispatcher& SignalDispatcher::instance()
{
    static SignalDispatcher* dispatcher = [] {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            KorrException e(NLS::format(rd(), "ZRKNV0008_UNABLE_TO_CREATE_EVENT", std::to_string(errno)));
            if (rd().isFlowOn()) {
                Trace::throwing(rd(), "instance", &e);
            }
            throw e;
        }
        // A full pipe drops the signal rather than blocking the handler; signals coalesce anyway.
        ::fcntl(ends[1], F_SETFL, ::fcntl(ends[1], F_GETFL) | O_NONBLOCK);
        SignalDispatcher* d = new SignalDispatcher(ends[0], ends[1]);
        d->thread = new KorrThreadImpl(d);
        // The dispatcher blocks every signal, so that handlers run on other threads only.
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        try {
            d->thread->start();
        } catch (const KorrException&) {
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
            ::close(ends[0]);
            ::close(ends[1]);
            delete d->thread;
            delete d;
            throw;
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        signalPipe.store(ends[1]);
        return d;
    }();
    return *dispatcher;
}

// Runs inside a signal handler: only async-signal-safe calls from here on, no locks, no
// allocation, no tracing.
void SignalDispatcher::onSignal(int signal)
{
    int saved = errno;
    int fd = signalPipe.load();
    if (fd >= 0) {
        unsigned char number = static_cast<unsigned char>(signal);
        ssize_t ignored = ::write(fd, &number, 1);
        (void)ignored;
    }
    errno = saved;
}

void SignalDispatcher::install(ProcessSignalActionHandler* h)
{
    SignalDispatcher& d = instance();
    d.handler.store(h);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGQUIT, SIGTERM, SIGINT}) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            std::abort(); // only an invalid signal number fails: a bug
        }
    }
}

long SignalDispatcher::run()
{
    for (;;) {
        unsigned char number = 0;
        ssize_t n = ::read(readEnd, &number, 1);
        if (n == 1) {
            dispatch(number);
        } else if (n == 0 || errno != EINTR) {
            return 0;
        }
    }
}

void SignalDispatcher::dispatch(int signal)
{
    ProcessSignalActionHandler* h = handler.load();
    if (rd().isOn(TraceLevel::MODERATE)) {
        std::string text = "Signal " + std::to_string(signal) + (h ? " delivered" : " ignored: no handler");
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "dispatch", 1, text.c_str());
    }
    if (!h) {
        return;
    }
    // A failing action is reported and the dispatcher carries on.
    try {
        if (signal == SIGINT || signal == SIGTERM) {
            h->shutdownAction(signal + 128);
        } else {
            h->defaultAction(signal);
        }
    } catch (const KorrException& e) {
        EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0149_UNCAUGHT_EXCEPTION", e.toString()));
    }
}
