#include <windows.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "KorrUtils.h"
#include "ProcessSignalActionHandler.h"
#include "UnderWine.h"

namespace {

class Recorder : public ProcessSignalActionHandler
{
public:
    void shutdownAction(int code) override { shutdown = code; }
    void outputDiagnosticsAction() override {}
    void defaultAction(int signal) override { other = signal; }
    std::atomic<int> shutdown{0};
    std::atomic<int> other{0};
};

bool waitFor(const std::atomic<int>& value)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (value == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return value != 0;
}

} // namespace

// Console control needs a console: without one (as under ctest) the test makes its own.
TEST(ConsoleSignalDispatcherTest, CtrlCReachesShutdownActionWith130)
{
    AllocConsole();
    Recorder recorder;
    KorrUtils::handleSignals(&recorder);
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        // Wine gives a console only to a process with a terminal; the build also runs this
        // test under a pseudo-terminal, where a skip is a failure.
        KorrUtils::handleSignals(nullptr);
        ASSERT_FALSE(std::getenv("OSTARA_TEST_NEEDS_CONSOLE")) << GetLastError();
        GTEST_SKIP() << "no console without a terminal";
    }
    ASSERT_TRUE(waitFor(recorder.shutdown));
    EXPECT_EQ(recorder.shutdown, 130);
    // The handler stays installed for the next one.
    recorder.shutdown = 0;
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    ASSERT_TRUE(waitFor(recorder.shutdown));

    if (underWine()) {
        KorrUtils::handleSignals(nullptr);
        GTEST_SKIP() << "Wine does not implement CTRL_BREAK_EVENT";
    }
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0));
    ASSERT_TRUE(waitFor(recorder.other));
    EXPECT_EQ(recorder.other, SIGBREAK);
    KorrUtils::handleSignals(nullptr);
}
