// The controller supervising the Java sample agent in a real JVM (-Xcheck:jni): status,
// relayed GETA and JCOR, native events of the agent in its own event log, immediate stop.
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "ControllerTestSupport.h"
#include "JavaTestSupport.h"
#include "KorrProcessImpl.h"
#include "ProcessListener.h"

namespace {

class JavaAgentEndToEndTest : public ControllerTest
{
protected:
    void SetUp() override
    {
        // The controller's children inherit these; only a sanitizer build has any.
        for (const std::string& entry : javatest::sanitizerEnvironment()) {
            std::string::size_type at = entry.find('=');
            ::setenv(entry.substr(0, at).c_str(), entry.substr(at + 1).c_str(), 1);
            saved.push_back(entry.substr(0, at));
        }
    }
    void TearDown() override
    {
        ControllerTest::TearDown();
        for (const std::string& name : saved) {
            ::unsetenv(name.c_str());
        }
    }

    static std::vector<std::string> javaAgent()
    {
        return {OSTARA_JAVA_EXECUTABLE, "-Xcheck:jni", "-XX:+UseSerialGC", "-Xmx64m", "-jar",
                std::string(OSTARA_JAVA_LIB_JAR_DIR) + "/sample-agent.jar"};
    }

    int ostaractl(const std::vector<std::string>& args, std::string* output)
    {
        std::vector<std::string> all = {std::string(OSTARA_BIN_DIR) + "/ostaractl", "A"};
        all.insert(all.end(), args.begin(), args.end());
        Words command(all);
        std::ostringstream out;
        ProcessListener listener(out);
        KorrProcessImpl tool(command.argc(), command.argv(), dir());
        tool.start();
        tool.registerOutputStreamListener(listener);
        tool.registerErrorStreamListener(listener);
        int code = tool.waitForProcess();
        *output = out.str();
        return code;
    }

    std::vector<std::string> saved;
};

} // namespace

TEST_F(JavaAgentEndToEndTest, StatusRelayedRequestsNativeEventsAndAnImmediateStop)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ProcessController& c = make(javaAgent());
    ASSERT_EQ(c.initialize(), 0);
    startRun();
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(ipc.path() + "/PCA"); }, 60000));

    std::string out;
    ASSERT_EQ(0, ostaractl({"status"}, &out)) << out;
    EXPECT_NE(out.find("processControllerStatus=STARTED"), std::string::npos) << out;
    ASSERT_EQ(0, ostaractl({"send", "GETA"}, &out)) << out;
    EXPECT_NE(out.find("controllerPid=" + std::to_string(::getpid())), std::string::npos) << out;
    EXPECT_NE(out.find("serviceName=PCA"), std::string::npos) << out;
    EXPECT_NE(out.find("state=running"), std::string::npos) << out;
    ASSERT_EQ(0, ostaractl({"send", "JCOR"}, &out)) << out;
    EXPECT_NE(out.find("Thread dump written"), std::string::npos) << out;
    javatest::sendOversizedPacket(ipc.path() + "/PCA");

    ASSERT_EQ(0, ostaractl({"stop", "--immediate"}, &out)) << out;
    ASSERT_TRUE(runEnds(60000));
    EXPECT_EQ(result, 0);
    EXPECT_NE(eventLog().find("ZRKPC0022"), std::string::npos);
    EXPECT_EQ(c.shutdown(), 0);
    std::string childOut = testing::internal::GetCapturedStdout();
    std::string childErr = testing::internal::GetCapturedStderr();

    // The thread dump came through the agent's standard output, with the thread that served it.
    EXPECT_NE(childOut.find("Thread dump of the sample agent"), std::string::npos) << childOut;
    EXPECT_NE(childOut.find("\"ostara native thread\""), std::string::npos) << childOut;
    std::string agentEvents = readFile(dir() + "/logs/agentevent.log");
    EXPECT_NE(agentEvents.find("SampleAgent I The sample agent serves PCA"), std::string::npos) << agentEvents;
    EXPECT_NE(agentEvents.find("IPCClientRunnable E ZRKNV0085E"), std::string::npos) << agentEvents;
    EXPECT_NE(agentEvents.find("stopped on request STOPI"), std::string::npos) << agentEvents;
    EXPECT_EQ("", javatest::jvmComplaints(childOut + childErr));
}
