#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "KorrException.h"
#include "KorrIOException.h"
#include "KorrRunnable.h"
#include "KorrThreadImpl.h"

namespace {

class Returns : public KorrRunnable
{
public:
    explicit Returns(long v) : value(v) {}
    long run() override { return value; }
    long value;
};

class Throws : public KorrRunnable
{
public:
    long run() override { throw KorrIOException("disk gone"); }
};

// Runs until released; requestStop releases it, as a stoppable reader would.
class Gate : public KorrRunnable
{
public:
    long run() override
    {
        while (!open) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return 42;
    }
    void requestStop() override { open = true; }
    std::atomic<bool> open{false};
};

} // namespace

TEST(KorrThreadImplTest, ReportsTheRunnablesResultAfterJoin)
{
    Returns seven(7);
    KorrThreadImpl thread(&seven);
    thread.start();
    thread.join();
    EXPECT_FALSE(thread.isAlive());
    EXPECT_EQ(thread.getExitCode(), 7);
    EXPECT_EQ(thread.getRunnable(), &seven);

    Returns wide(0x100000005L); // only the low 32 bits count
    KorrThreadImpl second(&wide);
    second.start();
    second.join();
    EXPECT_EQ(second.getExitCode(), 5);
}

TEST(KorrThreadImplTest, UncaughtKorrExceptionGivesMinusOneAndAnEvent)
{
    Throws thrower;
    KorrThreadImpl thread(&thrower);
    testing::internal::CaptureStderr();
    thread.start();
    thread.join();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(thread.getExitCode(), -1);
    EXPECT_NE(err.find("ZRKNV0149"), std::string::npos) << err;
    EXPECT_NE(err.find("class KorrIOException: disk gone"), std::string::npos) << err;
}

TEST(KorrThreadImplTest, AliveAndStillActiveWhileRunningThenStopGivesZero)
{
    Gate gate;
    KorrThreadImpl thread(&gate);
    thread.start();
    EXPECT_TRUE(thread.isAlive());
    EXPECT_EQ(thread.getExitCode(), KorrThread::STILL_ACTIVE);
    EXPECT_EQ(thread.getExitCode(), 259);
    thread.stop();
    EXPECT_FALSE(thread.isAlive());
    EXPECT_EQ(thread.getExitCode(), 0);
}

TEST(KorrThreadImplTest, NeverStartedThreadRejectsEveryQuery)
{
    Returns r(1);
    KorrThreadImpl thread(&r);
    EXPECT_THROW(thread.join(), KorrException);
    EXPECT_THROW(thread.isAlive(), KorrException);
    EXPECT_THROW(thread.getExitCode(), KorrException);
    EXPECT_THROW(thread.stop(), KorrException);
}

TEST(KorrThreadImplTest, ThreadIdsDifferBetweenThreadsAndAreStable)
{
    unsigned int main1 = KorrThread::getCurrentThreadId();
    unsigned int other = 0;
    std::thread t([&] { other = KorrThread::getCurrentThreadId(); });
    t.join();
    EXPECT_NE(main1, 0u);
    EXPECT_NE(other, 0u);
    EXPECT_NE(main1, other);
    EXPECT_EQ(main1, KorrThread::getCurrentThreadId());
}

TEST(KorrThreadImplTest, DestroyingARunningThreadObjectIsSafe)
{
    Gate gate;
    {
        KorrThreadImpl thread(&gate);
        thread.start();
    }
    gate.open = true; // the detached thread finishes on its own
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SUCCEED();
}
