#include <atomic>
#include <cstdlib>
#include <cerrno>
#include <chrono>
#include <thread>
#include <time.h>

#include <gtest/gtest.h>

#include "KorrException.h"
#include "KorrThreadSyncImpl.h"
#include "Synchronize.h"

namespace {
using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// True once `predicate` holds, polling for at most five seconds.
template <class P> bool eventually(P predicate)
{
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (predicate()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return predicate();
}
} // namespace

TEST(KorrThreadSyncImplTest, WaitFreesEveryLevelAndRestoresThem)
{
    KorrThreadSyncImpl monitor;
    std::atomic<bool> otherGotIn(false);
    monitor.lock();
    monitor.lock();
    monitor.lock();
    std::thread other([&] {
        Synchronize hold(&monitor);
        otherGotIn = true;
        monitor.notifyAll();
    });
    int result = 0;
    while (!otherGotIn) {
        result = monitor.wait(5000);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(monitor.heldByCaller(), 3);
    other.join();
    monitor.unlock();
    monitor.unlock();
    EXPECT_EQ(monitor.heldByCaller(), 1);
    monitor.unlock();
    EXPECT_EQ(monitor.heldByCaller(), 0);
    // Free for others again.
    std::thread third([&] { Synchronize hold(&monitor); });
    third.join();
}

TEST(KorrThreadSyncImplTest, WaitZeroReturnsAtOnceStillHolding)
{
    KorrThreadSyncImpl monitor;
    Synchronize outer(&monitor);
    Synchronize inner(&monitor);
    auto start = Clock::now();
    EXPECT_EQ(monitor.wait(0), -1);
    EXPECT_LT(msSince(start), 50);
    EXPECT_EQ(monitor.heldByCaller(), 2);
}

TEST(KorrThreadSyncImplTest, NotifyWithNobodyWaitingIsLost)
{
    KorrThreadSyncImpl monitor;
    Synchronize hold(&monitor);
    monitor.notifyAll();
    auto start = Clock::now();
    EXPECT_EQ(monitor.wait(100), -1);
    EXPECT_GE(msSince(start), 95);
}

TEST(KorrThreadSyncImplTest, NotifyAllWakesEveryCurrentWaiter)
{
    KorrThreadSyncImpl monitor;
    std::atomic<int> waiting(0);
    std::atomic<int> woken(0);
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            Synchronize hold(&monitor);
            ++waiting;
            if (monitor.wait(10000) == 0) {
                ++woken;
            }
        });
    }
    // A waiter counts itself while holding the monitor, so once we hold it after all three
    // have counted, all three are inside wait.
    ASSERT_TRUE(eventually([&] { return waiting == 3; }));
    {
        Synchronize hold(&monitor);
        monitor.notifyAll();
    }
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(woken, 3);
}

TEST(KorrThreadSyncImplTest, WaitByNonOwnerThrowsAndChangesNothing)
{
    KorrThreadSyncImpl monitor;
    EXPECT_THROW(monitor.wait(10), KorrException);
    monitor.lock();
    std::string message;
    std::thread other([&] {
        try {
            monitor.wait(10);
        } catch (const KorrException& e) {
            message = e.getMessage();
        }
    });
    other.join();
    EXPECT_NE(message.find("ZRKNV0171"), std::string::npos) << message;
    EXPECT_EQ(monitor.heldByCaller(), 1);
    monitor.unlock();
}

TEST(KorrThreadSyncImplTest, NullMonitorScopeDoesNothing)
{
    Synchronize nothing(nullptr);
    SUCCEED();
}

// Moves the machine's wall clock by an hour and back while a timed wait runs. It needs
// CAP_SYS_TIME and disturbs everything else on the machine, so it runs only when asked for
// with OSTARA_TEST_CLOCK_JUMPS=1.
TEST(KorrThreadSyncImplTest, TimedWaitIgnoresWallClockJumps)
{
    if (!std::getenv("OSTARA_TEST_CLOCK_JUMPS")) {
        GTEST_SKIP() << "set OSTARA_TEST_CLOCK_JUMPS=1 to move the wall clock";
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (clock_settime(CLOCK_REALTIME, &now) != 0) {
        GTEST_SKIP() << "cannot set the wall clock here";
    }
    for (long jump : {3600L, -3600L}) {
        KorrThreadSyncImpl monitor;
        std::atomic<bool> jumped(false);
        std::thread mover([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            timespec t{};
            clock_gettime(CLOCK_REALTIME, &t);
            t.tv_sec += jump;
            clock_settime(CLOCK_REALTIME, &t);
            jumped = true;
        });
        auto start = Clock::now();
        {
            Synchronize hold(&monitor);
            EXPECT_EQ(monitor.wait(600), -1);
        }
        long elapsed = msSince(start);
        mover.join();
        timespec t{};
        clock_gettime(CLOCK_REALTIME, &t);
        t.tv_sec -= jump;
        clock_settime(CLOCK_REALTIME, &t);
        EXPECT_TRUE(jumped);
        EXPECT_GE(elapsed, 590) << "jump " << jump;
        EXPECT_LT(elapsed, 3000) << "jump " << jump;
    }
}
