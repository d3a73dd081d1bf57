#include <gtest/gtest.h>

#include "ControllerTestSupport.h"
#include "IPCClient.h"
#include "IPCListener.h"
#include "IPCServer.h"
#include "KorrException.h"
#include "KorrProcessImpl.h"
#include "ProcessListener.h"
#include "ProcessProbe.h"

namespace {

// The controller supervising the sample agent, driven by the installed ostaractl.
class ControllerEndToEndTest : public ControllerTest
{
protected:
    int ostaractl(const std::vector<std::string>& args, std::string* output = nullptr)
    {
        std::vector<std::string> all = {std::string(OSTARA_BIN_DIR) + "/ostaractl", "A"};
        all.insert(all.end(), args.begin(), args.end());
        Words command(all);
        std::ostringstream out;
        ProcessListener listener(out);
        KorrProcessImpl tool(command.argc(), command.argv(), dir());
        tool.start();
        tool.registerOutputStreamListener(listener);
        int code = tool.waitForProcess();
        if (output) {
            *output = out.str();
        }
        return code;
    }
    // The process id of the agent's nth start (from 1), as the agent logged it.
    std::string agentPid(std::size_t n)
    {
        std::vector<std::string> runs = agentRuns();
        if (runs.size() < n) {
            return "";
        }
        std::string line = runs[n - 1];
        std::string::size_type at = line.find("pid=") + 4;
        return line.substr(at, line.find(' ', at) - at);
    }
    static bool alive(const std::string& pid) { return processAlive(pid); }
    // Once a child has started, run() has set up the Java environment; reading the state
    // under the controller's monitor orders that before this thread starts ostaractl.
    bool childStarted(ProcessController& c)
    {
        return eventually([&] { return c.getState() == ProcessControllerState::STARTED && !agentPid(1).empty(); });
    }
};

} // namespace

TEST_F(ControllerEndToEndTest, StatusWhileRunningThenAControlledStop)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(childStarted(c));
    std::string out;
    ASSERT_TRUE(eventually([&] { return ostaractl({"status"}, &out) == 0 && out.find("STARTED") != std::string::npos; }));
    EXPECT_NE(out.find("processControllerStatus=STARTED"), std::string::npos) << out;
    EXPECT_NE(out.find("queueManagerStatus=UNKNOWN"), std::string::npos) << out;
    EXPECT_NE(out.find("lastApplicationExitCode=78"), std::string::npos) << out;
    // The agent got the Java options: it serves its own pipe, which takes relayed requests.
    ASSERT_TRUE(eventually([&] { return ostaractl({"send", "GETA"}, &out) == 0; }));
    EXPECT_NE(out.find("sample-agent run=1 pid=" + agentPid(1)), std::string::npos) << out;
    EXPECT_EQ(ostaractl({"stop"}), 0);
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(events("ZRKPC0022"), 1);
    EXPECT_EQ(c.getState(), ProcessControllerState::STOPPED);
    EXPECT_EQ(c.shutdown(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir() + "/ostarapc.lck"));
}

TEST_F(ControllerEndToEndTest, ImmediateStopRepliesOnlyOnceTheAgentHasGone)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(childStarted(c));
    ASSERT_TRUE(served("PCA"));
    std::string pid = agentPid(1);
    EXPECT_EQ(ostaractl({"stop", "--immediate"}), 0);
    EXPECT_FALSE(alive(pid));
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(events("ZRKPC0022"), 1);
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerEndToEndTest, TraceChangeReachesTheNextStartAndWakeEndsTheRestartDelay)
{
    ProcessController& c =
        make({agent(), "--exit=1,0", "--after-ms=1000"}, std::string(REMOTE_QM) + "maxRestartCount=0\nmaxRestartDelay=3600\n");
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(childStarted(c));
    EXPECT_EQ(ostaractl({"trace", "com.quillon.velbrix.x=all"}), 1);   // relayed: the agent does not know it
    EXPECT_EQ(c.getTraceSpecification(), "-Dcom.quillon.velbrix.traceSpecification=com.quillon.velbrix.x=all");
    ASSERT_TRUE(eventAppears("ZRKPC0026"));
    ASSERT_TRUE(eventually([&] { return c.getState() == ProcessControllerState::RECOVERING; }));
    EXPECT_EQ(ostaractl({"wake"}), 0);
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(result, 0);
    std::vector<std::string> runs = agentRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].find("traceSpecification"), std::string::npos);
    EXPECT_NE(runs[1].find("args=-Dcom.quillon.velbrix.traceSpecification=com.quillon.velbrix.x=all "
                           "-Dcom.quillon.velbrix.native.pc.processid="),
              std::string::npos)
        << runs[1];
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerEndToEndTest, AgentThatRefusesToStopIsForced)
{
    ProcessController& c = make({agent(), "--stop=refuse"});
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(childStarted(c));
    ASSERT_TRUE(served("PCA"));
    std::string pid = agentPid(1);
    auto before = std::chrono::steady_clock::now();
    c.stop(true);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_FALSE(alive(pid));
    ASSERT_TRUE(runEnds());
    EXPECT_EQ(result, 0);   // a forced child reads 0
    EXPECT_EQ(events("ZRKPC0089W"), 1);
    EXPECT_EQ(agentRuns().size(), 1u);
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerEndToEndTest, DiagnosticsSignalIsRelayedToTheAgent)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(served("PCA"));
    testing::internal::CaptureStdout();
    ProcessControllerTestAccess::outputDiagnosticsAction(c);
    c.stop(true);
    ASSERT_TRUE(runEnds());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("diagnostics requested"), std::string::npos);
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerEndToEndTest, ControlFileSteersTheAgentBetweenStarts)
{
    work.write("sample-agent.control", "--exit=3,0\n");
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(c.run(), 0);
    EXPECT_EQ(agentRuns().size(), 2u);
    EXPECT_EQ(events("ZRKPC0027"), 1);
    EXPECT_EQ(c.shutdown(), 0);
}

namespace {
class SilentAgent : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& request) override
    {
        return IPCMessage(request.getMessageId(), IPCMessage::STATUS_SUCCESS, "");
    }
};
} // namespace

// An application that still serves its pipe (left by a controller that was killed) and does
// not go when asked to stop is not started a second time: the controller says so and ends
// with 1, leaving nothing behind.
TEST_F(ControllerEndToEndTest, ApplicationLeftByAnEarlierControllerIsNotStartedTwice)
{
    SilentAgent leftOver;
    std::unique_ptr<IPCServer> pipe(IPCServer::newInstance("PCA", leftOver, -1));
    pipe->connect();
    work.write("ostarapc.pid", "4242");
    ProcessController& c = make({agent()});
    c.setStopLimit(500);
    EXPECT_EQ(c.initialize(), 1);
    EXPECT_EQ(events("ZRKPC0063"), 1) << eventLog();
    EXPECT_NE(eventLog().find("(process 4242)"), std::string::npos) << eventLog();
    EXPECT_FALSE(std::filesystem::exists(dir() + "/ostarapc.lck"));
    EXPECT_TRUE(agentRuns().empty());
    pipe->disconnect();
    ProcessController& again = make({agent()});
    EXPECT_EQ(again.initialize(), 0);   // with the pipe free it starts
    EXPECT_EQ(again.shutdown(), 0);
}

// The application of a killed controller that goes when asked is stopped, and the new
// controller supervises as usual.
TEST_F(ControllerEndToEndTest, ApplicationLeftByAnEarlierControllerIsStoppedAndSupervisionGoesOn)
{
    std::vector<std::string> words = {agent(), "-Dcom.quillon.velbrix.ipc.service.name=PCA"};
    std::vector<char*> argv = {&words[0][0], &words[1][0], nullptr};
    KorrProcessImpl leftOver(2, argv.data(), dir());
    leftOver.start();
    ASSERT_TRUE(eventually([&] { return agentRuns().size() == 1; }));
    ASSERT_TRUE(eventually([&] {
        std::unique_ptr<IPCClient> probe(IPCClient::newInstance("PCA"));
        try {
            probe->connect();
        } catch (const KorrException&) {
            return false;
        }
        probe->disconnect();
        return true;
    }));
    // What the event log takes from the recorded pid file is a process id or nothing.
    work.write("ostarapc.pid", "\x1b[2J4242");
    ProcessController& c = make({agent(), "--exit=0"});
    ASSERT_EQ(c.initialize(), 0) << eventLog();
    EXPECT_EQ(leftOver.waitForProcess(), 0);   // it went on its own stop request
    EXPECT_EQ(events("ZRKPC0081"), 1) << eventLog();
    EXPECT_NE(eventLog().find("(process unknown)"), std::string::npos) << eventLog();
    EXPECT_EQ(c.run(), 0);
    EXPECT_EQ(agentRuns().size(), 2u);
    EXPECT_EQ(c.shutdown(), 0);
}
