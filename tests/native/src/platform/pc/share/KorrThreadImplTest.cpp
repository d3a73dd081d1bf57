#include <windows.h>
#undef STILL_ACTIVE // a macro there; KorrThread::STILL_ACTIVE here

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "KorrException.h"
#include "KorrThreadImpl.h"
#include "KorrRunnable.h"

namespace {

class Returns : public KorrRunnable
{
public:
    explicit Returns(long c) : code(c) {}
    long run() override { return code; }
    long code;
};

class Throws : public KorrRunnable
{
public:
    long run() override { throw KorrException("thrown by the runnable"); }
};

// Blocks in a wait on an event until requestStop() sets it.
class BlocksUntilStopped : public KorrRunnable
{
public:
    BlocksUntilStopped() : event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~BlocksUntilStopped() override { CloseHandle(event); }
    long run() override
    {
        started = true;
        return WaitForSingleObject(event, 30000) == WAIT_OBJECT_0 ? 5 : 6;
    }
    void requestStop() override { SetEvent(event); }
    HANDLE event;
    std::atomic<bool> started{false};
};

} // namespace

TEST(KorrThreadImplTest, ExitCodesAreTheResultMinusOneAfterAnExceptionAndStillActiveWhileRunning)
{
    Returns seven(7);
    KorrThreadImpl a(&seven);
    a.start();
    a.join();
    EXPECT_EQ(a.getExitCode(), 7);
    EXPECT_FALSE(a.isAlive());

    Throws throws;
    KorrThreadImpl b(&throws);
    b.start();
    b.join();
    EXPECT_EQ(b.getExitCode(), -1);

    BlocksUntilStopped blocks;
    KorrThreadImpl c(&blocks);
    c.start();
    EXPECT_EQ(c.getExitCode(), KorrThread::STILL_ACTIVE);
    EXPECT_TRUE(c.isAlive());
    auto start = std::chrono::steady_clock::now();
    c.stop(); // wakes the runnable, never terminates it
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(c.isAlive());
    EXPECT_EQ(c.getExitCode(), 0);
}

TEST(KorrThreadImplTest, OperationsBeforeStartThrow)
{
    Returns r(1);
    KorrThreadImpl t(&r);
    EXPECT_THROW(t.join(), KorrException);
    EXPECT_THROW(t.getExitCode(), KorrException);
}
