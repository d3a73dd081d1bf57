#include <gtest/gtest.h>

#include "ControllerTestSupport.h"
#include "IPCClient.h"
#include "IPCMessage.h"
#include "KorrPropConstant.h"
#include "KorrUtils.h"

namespace {

// Quick failures with the default budget (4 restarts in 120 s) unless the text says otherwise.
std::string budget(const std::string& extra = "") { return std::string(ControllerTest::REMOTE_QM) + extra; }

std::string status(ProcessController& c, const char* key)
{
    NativeProperties report = c.getStatusProperties();
    const auto& entries = report.getEntries();
    auto found = entries.find(key);
    return found == entries.end() ? "<absent>" : found->second;
}

} // namespace

TEST_F(ControllerTest, ExitCodes0And2EndSupervisionAnd78NeverRestarts)
{
    for (int code : {0, 2, 78}) {
        TearDown();
        std::filesystem::remove(dir() + "/sample-agent.runs");
        std::filesystem::remove_all(dir() + "/logs");
        ProcessController& c = make({agent(), "--exit=" + std::to_string(code)});
        ASSERT_EQ(c.initialize(), 0);
        EXPECT_EQ(c.run(), code);
        EXPECT_EQ(events(code == 78 ? "ZRKPC0023" : "ZRKPC0022"), 1) << code;
        EXPECT_EQ(events("ZRKPC0007"), 1) << code;
        EXPECT_EQ(status(c, "processControllerStatus"), "STOPPED   ");
        EXPECT_EQ(status(c, "lastApplicationExitCode"), std::to_string(code));
        EXPECT_EQ(c.shutdown(), code);
        EXPECT_FALSE(std::filesystem::exists(dir() + "/ostarapc.lck"));
    }
}

TEST_F(ControllerTest, JavaChildGetsJavaHomeAndTheBinDirectoryAndOtherProgramsLeaveTheEnvironmentAlone)
{
    std::string path = KorrUtils::getenv("PATH");
    unsetenv("JAVA_HOME");
    {
        // The sample agent under its own name, which is not a Java program's.
        ProcessController& c = make({std::string(OSTARA_TOOLS_DIR) + "/ostara-sample-agent", "--exit=1"},
                                    budget("maxRestartCount=0\n"));
        ASSERT_EQ(c.initialize(), 0);
        EXPECT_EQ(c.run(), 1);
        EXPECT_EQ(KorrUtils::getenv("JAVA_HOME"), "");
        EXPECT_EQ(KorrUtils::getenv("PATH"), path);
        EXPECT_EQ(c.shutdown(), 1);
    }
    TearDown();
    ProcessController& c = make({"-F", "-directory=" + dir(), "-appId=A", "-properties=" + properties(REMOTE_QM),
                                 "-Dcom.quillon.velbrix.product.root=/opt/prod", agent(), "--exit=0"},
                                "", true);
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(c.run(), 0);
    EXPECT_EQ(KorrUtils::getenv("JAVA_HOME"), std::string(OSTARA_TOOLS_DIR) + "/fakejdk");
    const std::string sep = KorrUtils::separator();
    EXPECT_EQ(KorrUtils::getenv("PATH"), "/opt/prod" + sep + ".." + sep + "bin64" + KorrUtils::pathSeparator() + path);
    setenv("PATH", path.c_str(), 1);
    unsetenv("JAVA_HOME");
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerTest, FourQuickFailuresRestartAndTheFifthStopsWithTheBudgetMessage)
{
    ProcessController& c = make({agent(), "--exit=1"}, budget());
    EXPECT_EQ(status(c, "queueManagerStatus"), "<absent>");   // no connection monitor before run()
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(status(c, "processControllerStatus"), "STOPPED   ");
    EXPECT_EQ(status(c, "queueManagerLastError"), "<absent>");
    EXPECT_EQ(c.run(), 1);
    EXPECT_EQ(agentRuns().size(), 5u);
    EXPECT_EQ(events("ZRKPC0027"), 4);
    EXPECT_EQ(events("ZRKPC0025"), 1);
    EXPECT_NE(eventLog().find("restarted 4 times"), std::string::npos);
    EXPECT_EQ(status(c, "totalApplicationRestartCount"), "4");
    EXPECT_EQ(status(c, "currentApplicationRestartCount"), "4");
    EXPECT_EQ(status(c, "queueManagerStatus"), "UNKNOWN    ");
    EXPECT_EQ(c.shutdown(), 1);
}

TEST_F(ControllerTest, WithoutABudgetTheFirstFailureStops)
{
    ProcessController& c = make({agent(), "--exit=5"}, budget("maxRestartCount=0\n"));
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(c.run(), 5);
    EXPECT_EQ(agentRuns().size(), 1u);
    EXPECT_EQ(events("ZRKPC0025"), 1);
}

TEST_F(ControllerTest, AnExpiredWindowRestartsAtOnceAndOpensANewOne)
{
    // Interval 0: the window has expired at every end, so every failure restarts at once and
    // opens a new window counting it, until the child ends well on its sixth start.
    ProcessController& c = make({agent(), "--exit=1,1,1,1,1,0"}, budget("maxRestartInterval=0\nmaxRestartCount=2\n"));
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(c.run(), 0);
    EXPECT_EQ(agentRuns().size(), 6u);
    EXPECT_EQ(events("ZRKPC0024"), 5);
    EXPECT_EQ(events("ZRKPC0025"), 0);
    EXPECT_EQ(status(c, "currentApplicationRestartCount"), "1");
    EXPECT_EQ(status(c, "totalApplicationRestartCount"), "5");
}

TEST_F(ControllerTest, UsedUpBudgetWithADelayWaitsThenRestartsWithANewWindow)
{
    ProcessController& c =
        make({agent(), "--exit=1,1,1,0"}, budget("maxRestartCount=2\nmaxRestartDelay=1\n"));
    ASSERT_EQ(c.initialize(), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.run(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(events("ZRKPC0027"), 2);
    EXPECT_EQ(events("ZRKPC0026"), 1);
    EXPECT_NE(eventLog().find("again in 1 seconds"), std::string::npos);
    EXPECT_EQ(agentRuns().size(), 4u);
    EXPECT_EQ(status(c, "currentApplicationRestartCount"), "0");   // the start after the delay
    EXPECT_EQ(status(c, "totalApplicationRestartCount"), "3");
}

TEST_F(ControllerTest, WakeupEndsARestartDelayAndAStopDuringOneEndsSupervision)
{
    ProcessController& c = make({agent(), "--exit=1,1"}, budget("maxRestartCount=0\nmaxRestartDelay=3600\n"));
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(eventAppears("ZRKPC0026"));
    ASSERT_TRUE(eventually([&] { return c.getState() == ProcessControllerState::RECOVERING; }));
    c.wakeup();
    ASSERT_TRUE(eventAppears("ZRKPC0026", 2));
    EXPECT_EQ(agentRuns().size(), 2u);
    // The second delay: a stop ends it and no child starts again.
    ASSERT_TRUE(eventually([&] { return c.getState() == ProcessControllerState::RECOVERING; }));
    auto before = std::chrono::steady_clock::now();
    c.stop(true);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(agentRuns().size(), 2u);
    EXPECT_FALSE(c.isRunning());
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerTest, QueueManagerUnavailableGoesBackToWaitingForIt)
{
    ASSERT_TRUE(daemon.start("QM1"));
    ProcessController& c = make({"-F", "-directory=" + dir(), "-appId=A",
                                 "-Dcom.quillon.velbrix.product.root=" + std::string(OSTARA_PRODUCT_ROOT),
                                 "-properties=" + properties("agentQMgr=QM1\nagentQMgrRetryInterval=3600\n"), agent(),
                                 "--exit=75,0", "--after-ms=1000"},
                                "", true);
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(eventually([&] { return agentRuns().size() == 1; }));
    daemon.stop();
    ASSERT_TRUE(eventAppears("ZRKPC0052"));
    ASSERT_TRUE(eventAppears("ZRKPC0029"));   // the queue manager is tried and found down
    EXPECT_EQ(c.getState(), ProcessControllerState::WAITING);
    EXPECT_EQ(status(c, "queueManagerStatus"), "UNAVAILABLE");
    EXPECT_EQ(status(c, "queueManagerLastError"), "2059");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(agentRuns().size(), 1u);
    ASSERT_TRUE(daemon.start("QM1"));
    c.wakeup();
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(agentRuns().size(), 2u);
    EXPECT_EQ(events("ZRKPC0034"), 1);
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerTest, QueueManagerUnavailableAfterTheWindowOpensANewOne)
{
    ProcessController& c = make({agent(), "--exit=75,1,1,0"}, budget("maxRestartInterval=0\n"));
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(c.run(), 0);
    EXPECT_EQ(events("ZRKPC0028"), 1);
    EXPECT_EQ(events("ZRKPC0024"), 2);
}

TEST_F(ControllerTest, StopWhileTheChildRunsEndsWithProcessEndedWhateverTheExitCode)
{
    // The agent answers the stop but keeps running; it is ended by force after the limit and
    // reads 0, and the end is not a failure to restart from.
    ProcessController& c = make({agent(), "--stop=ignore"});
    ASSERT_EQ(c.initialize(), 0);
    c.setStopLimit(500);
    startRun();
    ASSERT_TRUE(eventAppears("ZRKPC0007"));
    ASSERT_TRUE(served("PCA"));   // the stop request reaches it
    c.stop(true);
    EXPECT_TRUE(runEnds(5000));
    EXPECT_EQ(events("ZRKPC0088W"), 1) << eventLog();   // the forced end is said, not only traced
    EXPECT_EQ(events("ZRKPC0022"), 1);
    EXPECT_EQ(events("ZRKPC0027"), 0);
    EXPECT_EQ(agentRuns().size(), 1u);
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerTest, StopBeforeTheFirstStartAndWhileWaitingForTheQueueManagerEndsPromptly)
{
    // Before run() has begun: remembered, so no child ever starts.
    {
        ProcessController& c = make({agent()});
        ASSERT_EQ(c.initialize(), 0);
        c.stop(true);
        startRun();
        ASSERT_TRUE(runEnds(5000));
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(agentRuns().empty());
        EXPECT_EQ(c.shutdown(), 0);
    }
    // While the queue manager is awaited (nothing serves QM1).
    TearDown();
    ProcessController& c = make({"-F", "-directory=" + dir(), "-appId=A",
                                 "-Dcom.quillon.velbrix.product.root=" + std::string(OSTARA_PRODUCT_ROOT),
                                 "-properties=" + properties("agentQMgr=QM1\nagentQMgrRetryInterval=3600\n"), agent()},
                                "", true);
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(eventAppears("ZRKPC0029"));
    auto before = std::chrono::steady_clock::now();
    c.stop(true);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    ASSERT_TRUE(runEnds(5000));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(agentRuns().empty());
    EXPECT_EQ(c.getState(), ProcessControllerState::WAITING);   // STOPPED is refused from WAITING
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerTest, ShutdownActionSetsTheExitCodeAndStops)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(eventAppears("ZRKPC0007"));
    ProcessControllerTestAccess::shutdownAction(c, 5);
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(result, 5);
    EXPECT_EQ(events("ZRKPC0022"), 1);
    EXPECT_EQ(c.shutdown(), 5);
}

TEST_F(ControllerTest, ShutdownActionZeroLeavesTheChildsCode)
{
    // The agent accepts the stop but ends on its own a moment later, with 1.
    ProcessController& c = make({agent(), "--stop=ignore", "--exit=1", "--after-ms=300"});
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(eventAppears("ZRKPC0007"));
    ProcessControllerTestAccess::shutdownAction(c, 0);
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(result, 1);
    EXPECT_EQ(events("ZRKPC0022"), 1);
    EXPECT_EQ(agentRuns().size(), 1u);
}

TEST_F(ControllerTest, ShutdownDuringRunIsMisuseAndTheLockStays)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(eventAppears("ZRKPC0007"));
    int reports = ffdcReports();
    EXPECT_EQ(c.shutdown(), 70);
    EXPECT_EQ(ffdcReports(), reports + 1);
    EXPECT_TRUE(std::filesystem::exists(dir() + "/ostarapc.lck"));
    EXPECT_EQ(c.run(), 70);   // a second run() while the first supervises
    c.stop(true);
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(result, 70);    // the first non-zero code set wins
    EXPECT_EQ(c.shutdown(), 70);
    EXPECT_FALSE(std::filesystem::exists(dir() + "/ostarapc.lck"));
}

TEST_F(ControllerTest, ProgramThatCannotStartEndsSupervisionWithAnErrorEvent)
{
    ProcessController& c = make({dir() + "/no-such-program"});
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(c.run(), 70);
    EXPECT_EQ(events("ZRKNV0007"), 1);
    EXPECT_FALSE(c.isRunning());
    EXPECT_EQ(c.shutdown(), 70);
}

TEST_F(ControllerTest, ChildThatAcceptsThePipeButNeverAnswersIsForcedAfterTheLimit)
{
    ProcessController& c = make({agent(), "--mute"});
    ASSERT_EQ(c.initialize(), 0);
    c.setStopLimit(1000);
    startRun();
    ASSERT_TRUE(eventAppears("ZRKPC0007"));
    ASSERT_TRUE(served("PCA"));
    auto before = std::chrono::steady_clock::now();
    c.stop(true);
    auto took = std::chrono::steady_clock::now() - before;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(10));
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(c.shutdown(), 0);
    EXPECT_GE(ProcessController::STOP_LIMIT_MS, 30000);
}
