#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "KorrThreadSyncImpl.h"
#include "Synchronize.h"

namespace {
using Clock = std::chrono::steady_clock;
} // namespace

TEST(KorrThreadSyncImplTest, WaitFreesEveryLevelAndANotifyReachesOnlyCurrentWaiters)
{
    KorrThreadSyncImpl monitor;
    monitor.lock();
    monitor.lock();
    monitor.lock();
    // Nobody waits: this notification is lost, so the timed wait below runs out.
    monitor.notifyAll();
    auto start = Clock::now();
    EXPECT_EQ(monitor.wait(0), -1);
    EXPECT_EQ(monitor.wait(100), -1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_EQ(monitor.heldByCaller(), 3);

    // Another thread can take the monitor only if the wait released all three levels.
    std::atomic<bool> otherGotIn(false);
    std::thread other([&] {
        Synchronize hold(&monitor);
        otherGotIn = true;
        monitor.notifyAll();
    });
    int result = -1;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!otherGotIn && Clock::now() < deadline) {
        result = monitor.wait(5000);
    }
    EXPECT_TRUE(otherGotIn);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(monitor.heldByCaller(), 3);
    other.join();
    monitor.unlock();
    monitor.unlock();
    monitor.unlock();
    EXPECT_EQ(monitor.heldByCaller(), 0);
}

TEST(KorrThreadSyncImplTest, OneNotifyWakesEveryWaiterAndTheEventIsResetAfterThem)
{
    KorrThreadSyncImpl monitor;
    std::atomic<int> waiting(0), woken(0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            Synchronize hold(&monitor);
            ++waiting;
            if (monitor.wait(10000) == 0) {
                ++woken;
            }
        });
    }
    auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        Synchronize hold(&monitor);
        if (waiting == 4 || Clock::now() > deadline) {
            monitor.notifyAll();
            break;
        }
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(woken, 4);
    // A later waiter is not released by the earlier notification.
    Synchronize hold(&monitor);
    EXPECT_EQ(monitor.wait(50), -1);
}
