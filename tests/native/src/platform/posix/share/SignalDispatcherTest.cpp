#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include <sys/wait.h>

#include <gtest/gtest.h>

#include "KorrIOException.h"
#include "KorrThreadImpl.h"
#include "KorrUtils.h"
#include "ProcessSignalActionHandler.h"
#include "SpawnedChild.h"
#include "TestChild.h"

namespace {

struct Call {
    int code;          // shutdownAction's code, or -signal for defaultAction
    unsigned int thread;
};

class Recorder : public ProcessSignalActionHandler
{
public:
    void shutdownAction(int code) override
    {
        record(code);
        if (throwOnce) {
            throwOnce = false;
            throw KorrIOException("action failed");
        }
    }
    void outputDiagnosticsAction() override { record(0); }
    void defaultAction(int signal) override
    {
        ProcessSignalActionHandler::defaultAction(signal);
        record(-signal);
    }

    // Waits until there are n calls; false at the deadline.
    bool waitFor(size_t n, int timeoutMs)
    {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return calls.size() >= n; });
    }
    std::vector<Call> snapshot()
    {
        std::lock_guard<std::mutex> hold(lock);
        return calls;
    }
    bool throwOnce = false;

private:
    void record(int code)
    {
        std::lock_guard<std::mutex> hold(lock);
        calls.push_back(Call{code, KorrThreadImpl::getCurrentThreadId()});
        changed.notify_all();
    }
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Call> calls;
};

int failures = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

} // namespace

// Signals itself and checks where and how each one arrives.
OSTARA_TEST_CHILD_ROLE(signals)
{
    (void)argc;
    (void)argv;
    Recorder recorder;
    recorder.throwOnce = true;
    KorrUtils::handleSignals(&recorder);
    const unsigned int self = KorrThreadImpl::getCurrentThreadId();

    pthread_kill(pthread_self(), SIGINT); // the handler runs on this very thread
    check(recorder.waitFor(1, 10000), "SIGINT delivered");
    kill(getpid(), SIGTERM);
    check(recorder.waitFor(2, 10000), "SIGTERM delivered after a throwing action");
    kill(getpid(), SIGQUIT);
    check(recorder.waitFor(3, 10000), "SIGQUIT delivered");

    std::vector<Call> calls = recorder.snapshot();
    if (calls.size() == 3) {
        check(calls[0].code == 130, "SIGINT gives shutdownAction(130)");
        check(calls[1].code == 143, "SIGTERM gives shutdownAction(143)");
        check(calls[2].code == -SIGQUIT, "SIGQUIT gives defaultAction(3)");
        check(calls[0].thread != self, "the action runs outside the signalled thread");
        check(calls[1].thread == calls[0].thread && calls[2].thread == calls[0].thread,
              "every action runs on the one dispatcher thread");
    }

    // Another thread signalled directly: still the dispatcher acts.
    struct Sender {
        static void* run(void*)
        {
            pthread_kill(pthread_self(), SIGINT);
            return nullptr;
        }
    };
    pthread_t sender;
    pthread_create(&sender, nullptr, Sender::run, nullptr);
    pthread_join(sender, nullptr);
    check(recorder.waitFor(4, 10000), "SIGINT from another thread delivered");
    calls = recorder.snapshot();
    if (calls.size() == 4) {
        check(calls[3].code == 130 && calls[3].thread == calls[0].thread, "second SIGINT on the dispatcher");
    }

    // Without a handler the signals are consumed: the process lives on.
    KorrUtils::handleSignals(nullptr);
    kill(getpid(), SIGTERM);
    kill(getpid(), SIGINT);
    check(!recorder.waitFor(5, 300), "no action without a handler");
    return failures == 0 ? 0 : 1;
}

TEST(SignalDispatcherTest, ShutdownSignalsReachTheHandlerOnTheDispatcherThread)
{
    SpawnedChild child("signals", {});
    int status = child.wait(60000);
    ASSERT_NE(status, -1) << "child did not end";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
