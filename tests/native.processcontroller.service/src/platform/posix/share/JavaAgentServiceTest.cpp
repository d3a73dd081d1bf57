// The staged service program supervising the Java sample agent in a real JVM (-Xcheck:jni),
// driven by ostaractl as an operator would: status, relayed GETA and JCOR, an immediate stop.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "JavaTestSupport.h"
#include "ServiceTestSupport.h"
#include "TempDir.h"

namespace {

const int LIMIT_MS = 60000;

} // namespace

TEST(JavaAgentServiceTest, SupervisesTheJavaAgentThroughStatusRelayedRequestsAndAnImmediateStop)
{
    TempDir dir;
    mkdir(dir.file("work").c_str(), 0755);
    mkdir(dir.file("ipc").c_str(), 0755);
    dir.write("agent.properties", "agentQMgr=QM1\nagentQMgrHost=qm.example\n");
    std::string app = "javaAgent" + std::to_string(getpid());
    std::string ipc = dir.file("ipc");
    std::vector<std::string> env = javatest::sanitizerEnvironment();
    env.push_back("VELBRIX_IPC_DIR=" + ipc);
    ProgramRun service({serviceProgram(), app, dir.path(), "Info", "-directory=" + dir.file("work"), "-appId=" + app,
                        "-properties=" + dir.file("agent.properties"),
                        "-Dcom.quillon.velbrix.product.root=" OSTARA_PRODUCT_ROOT, OSTARA_JAVA_EXECUTABLE,
                        "-Xcheck:jni", "-XX:+UseSerialGC", "-Xmx64m", "-jar", OSTARA_JAVA_LIB_JAR_DIR "/sample-agent.jar"},
                       env);
    auto ostaractl = [&](const std::vector<std::string>& args, std::string& out) {
        std::vector<std::string> argv = {OSTARA_BIN_DIR "/ostaractl", "--ipc-dir", ipc, app};
        argv.insert(argv.end(), args.begin(), args.end());
        ProgramRun tool(argv, {});
        int code = tool.wait(LIMIT_MS);
        out = tool.output();
        return code;
    };
    std::string agentPipe = ipc + "/PC" + app;
    for (int i = 0; i < 3000 && access(agentPipe.c_str(), F_OK) != 0; ++i) {
        usleep(20000);
    }
    ASSERT_EQ(0, access(agentPipe.c_str(), F_OK)) << dir.read("logs/stderr.log");

    std::string out;
    ASSERT_EQ(0, ostaractl({"status"}, out)) << out;
    EXPECT_NE(out.find("processControllerStatus=STARTED"), std::string::npos) << out;
    ASSERT_EQ(0, ostaractl({"send", "GETA"}, out)) << out;
    EXPECT_NE(out.find("serviceName=PC" + app), std::string::npos) << out;
    EXPECT_NE(out.find("state=running"), std::string::npos) << out;
    ASSERT_EQ(0, ostaractl({"send", "JCOR"}, out)) << out;
    EXPECT_NE(out.find("Thread dump written"), std::string::npos) << out;
    javatest::sendOversizedPacket(agentPipe);
    EXPECT_EQ(0, ostaractl({"stop", "--immediate"}, out)) << out;
    EXPECT_EQ(0, service.wait(LIMIT_MS)) << service.output();

    // The thread dump came through the agent's standard output, with the thread that served it.
    std::string agentOut = dir.read("logs/stdout.log");
    std::string agentErr = dir.read("logs/stderr.log");
    EXPECT_NE(agentOut.find("Thread dump of the sample agent"), std::string::npos) << agentOut;
    EXPECT_NE(agentOut.find("\"ostara native thread\""), std::string::npos) << agentOut;
    std::string agentEvents = dir.read("work/logs/agentevent.log");
    EXPECT_NE(agentEvents.find("SampleAgent I The sample agent serves PC" + app), std::string::npos) << agentEvents;
    EXPECT_NE(agentEvents.find("IPCClientRunnable E ZRKNV0085E"), std::string::npos) << agentEvents;
    EXPECT_NE(agentEvents.find("stopped on request STOPI"), std::string::npos) << agentEvents;
    EXPECT_EQ("", javatest::jvmComplaints(agentOut + agentErr));
}
