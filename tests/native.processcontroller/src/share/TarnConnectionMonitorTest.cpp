#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "DiagnosticsTestSupport.h"
#include "KorrException.h"
#include "NativeProperties.h"
#include "TarnConnectionMonitor.h"
#include "TempDir.h"
#include "VantarifaceImpl.h"
#include "VexilDaemon.h"

namespace {

using Clock = std::chrono::steady_clock;

// A monitor over an agent.properties file in a temporary directory, with the simulated
// queue manager in its own directory and the events captured.
class TarnConnectionMonitorTest : public DiagnosticsTest
{
protected:
    TarnConnectionMonitorTest() : daemon(sim.path()) {}

    void writeProperties(const std::string& text) { path = dir.write("agent.properties", text); }
    TarnConnectionMonitor& monitorFor(const std::string& text, const std::string& root = OSTARA_PRODUCT_ROOT)
    {
        writeProperties(text);
        properties.loadProperties(path);
        monitor.reset(new TarnConnectionMonitor(properties, root));
        return *monitor;
    }
    int eventsContaining(const std::string& key)
    {
        int n = 0;
        for (const std::string& m : events->messagesOf(LogRecordType::EVENT)) {
            n += m.find(key) != std::string::npos;
        }
        return n;
    }
    // Waits, at most ms, until the waiting thread has logged an event containing key.
    bool eventLoggedWithin(const std::string& key, int ms)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (eventsContaining(key) == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return eventsContaining(key) > 0;
    }
    // Runs wait() on a thread; the result lands in `result`.
    void waitInBackground()
    {
        finished = false;
        waiter = std::thread([this] {
            result = monitor->wait();
            finished = true;
        });
    }
    bool finishesWithin(int ms)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!finished && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (finished && waiter.joinable()) {
            waiter.join();
        }
        return finished;
    }
    void TearDown() override
    {
        if (monitor) {
            monitor->stop();
        }
        if (waiter.joinable()) {
            waiter.join();
        }
        monitor.reset();
        DiagnosticsTest::TearDown();
    }

    TempDir dir;
    TempDir sim;
    VexilDaemon daemon;
    std::string path;
    NativeProperties properties;
    std::unique_ptr<TarnConnectionMonitor> monitor;
    std::thread waiter;
    std::atomic<bool> finished{false};
    std::atomic<bool> result{false};
};

} // namespace

TEST_F(TarnConnectionMonitorTest, RemoteQueueManagerNeedsNoTestAndNoLibrary)
{
    // A product root without the library: any attempt to load it would throw.
    TempDir nowhere;
    TarnConnectionMonitor& m = monitorFor("agentQMgr=QM1\nagentQMgrHost=remote.example\n", nowhere.path());
    EXPECT_TRUE(m.wait());
    EXPECT_EQ(m.getState(), TarnConnectionState(TarnConnectionState::UNKNOWN));
    EXPECT_TRUE(events->messagesOf(LogRecordType::EVENT).empty());
}

TEST_F(TarnConnectionMonitorTest, FirstSuccessIsSilentAndRefusalMeansReachable)
{
    ASSERT_TRUE(daemon.start("QM1"));
    TarnConnectionMonitor& m = monitorFor("agentQMgr=QM1\n");
    EXPECT_TRUE(m.wait());
    EXPECT_EQ(m.getState(), TarnConnectionState(TarnConnectionState::AVAILABLE));
    EXPECT_TRUE(events->messagesOf(LogRecordType::EVENT).empty());

    // The simulated queue manager takes the signal to refuse in its own time: ask until it has.
    daemon.refuse(true);
    auto deadline = Clock::now() + std::chrono::seconds(5);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(m.wait());
    } while (m.getState() == TarnConnectionState(TarnConnectionState::AVAILABLE) && Clock::now() < deadline);
    EXPECT_EQ(m.getState(), TarnConnectionState(TarnConnectionState::AVAILABLE_AUTHORISATION_REQUIRED));
    EXPECT_TRUE(events->messagesOf(LogRecordType::EVENT).empty());
}

TEST_F(TarnConnectionMonitorTest, DaemonDownWarnsOnceRetriesSilentlyThenReportsTheAllClear)
{
    TarnConnectionMonitor& m = monitorFor("agentQMgr=QM1\nagentQMgrRetryInterval=0\n");
    // Interval 0 retries at once: give it a moment of silent retries, then start the daemon.
    waitInBackground();
    ASSERT_TRUE(eventLoggedWithin("ZRKPC0029", 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(finished);
    EXPECT_EQ(m.getState(), TarnConnectionState(TarnConnectionState::UNAVAILABLE));
    EXPECT_EQ(m.getLastError(), 2059);
    ASSERT_TRUE(daemon.start("QM1"));
    ASSERT_TRUE(finishesWithin(5000));
    EXPECT_TRUE(result);
    EXPECT_EQ(m.getState(), TarnConnectionState(TarnConnectionState::AVAILABLE));
    EXPECT_EQ(eventsContaining("ZRKPC0029"), 1);
    EXPECT_EQ(eventsContaining("ZRKPC0034"), 1);
    EXPECT_TRUE(events->sawMessageContaining("QM1"));
}

TEST_F(TarnConnectionMonitorTest, NoNameWarnsOnceUntilTheFileGainsOne)
{
    TarnConnectionMonitor& m = monitorFor("agentQMgrRetryInterval=60\n");
    waitInBackground();
    ASSERT_TRUE(eventLoggedWithin("ZRKPC0030", 5000));
    EXPECT_EQ(eventsContaining("ZRKPC0030"), 1);
    EXPECT_TRUE(events->sawMessageContaining("agentQMgr"));
    // The properties gain a name; a wake-up starts the next pass at once, which re-reads them.
    ASSERT_TRUE(daemon.start("QM2"));
    writeProperties("agentQMgr=QM2\nagentQMgrRetryInterval=60\n");
    m.wakeup();
    ASSERT_TRUE(finishesWithin(5000));
    EXPECT_TRUE(result);
    EXPECT_EQ(eventsContaining("ZRKPC0030"), 1);
    EXPECT_EQ(eventsContaining("ZRKPC0034"), 1);
}

TEST_F(TarnConnectionMonitorTest, ANewReasonIsReportedAgainAndRefusalAfterAWarningSaysSo)
{
    TarnConnectionMonitor& m = monitorFor("agentQMgr=QM1\nagentQMgrRetryInterval=60\n");
    waitInBackground();
    ASSERT_TRUE(eventLoggedWithin("ZRKPC0029", 5000));
    EXPECT_EQ(eventsContaining("ZRKPC0029"), 1);
    m.wakeup(); // same reason again: silent
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(eventsContaining("ZRKPC0029"), 1);
    ASSERT_TRUE(daemon.start("QM1", true));
    m.wakeup();
    ASSERT_TRUE(finishesWithin(5000));
    EXPECT_EQ(m.getState(), TarnConnectionState(TarnConnectionState::AVAILABLE_AUTHORISATION_REQUIRED));
    EXPECT_EQ(eventsContaining("ZRKPC0051"), 1);
    EXPECT_EQ(eventsContaining("ZRKPC0034"), 0);
}

TEST_F(TarnConnectionMonitorTest, StopEndsTheRetryWaitAtOnceAndForEver)
{
    TarnConnectionMonitor& m = monitorFor("agentQMgr=QM1\nagentQMgrRetryInterval=3600\n");
    waitInBackground();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = Clock::now();
    m.stop();
    ASSERT_TRUE(finishesWithin(2000));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(result);
    // Later calls return false without touching the properties, even an unreadable file.
    writeProperties("agentQMgrRetryInterval=notanumber\n");
    EXPECT_FALSE(m.wait());
}

TEST_F(TarnConnectionMonitorTest, MissingLibraryLeavesWaitWithTheLoadError)
{
    TempDir nowhere;
    TarnConnectionMonitor& m = monitorFor("agentQMgr=QM1\n", nowhere.path() + "/prod");
    try {
        m.wait();
        FAIL() << "expected the library load to fail";
    } catch (const KorrException& e) {
        EXPECT_NE(e.getMessage().find("ZRKNV0151"), std::string::npos);
        EXPECT_NE(e.getMessage().find(VantarifaceImpl::libraryPath(nowhere.path() + "/prod")), std::string::npos);
    }
    // The monitor was released: stop() does not hang.
    m.stop();
}

TEST(TarnConnectionStateTest, TextForms)
{
    std::ostringstream out;
    out << TarnConnectionState() << "|" << TarnConnectionState(3) << "|" << TarnConnectionState(4) << "|"
        << TarnConnectionState(9);
    EXPECT_EQ(out.str(), "UNKNOWN    |UNAVAILABLE|AVAILABLE (Authorisation Required)|???        ");
}
