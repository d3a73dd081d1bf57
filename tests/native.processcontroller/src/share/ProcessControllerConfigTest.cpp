#include <algorithm>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ControllerTestSupport.h"
#include "IPCClient.h"
#include "IPCListener.h"
#include "IPCServer.h"
#include "KorrException.h"
#include "KorrProcessImpl.h"
#include "KorrUtils.h"
#include "ProcessListener.h"
#include "TestChild.h"
#include "UnderWine.h"

namespace {

const std::string TRACE = "-Dcom.quillon.velbrix.traceSpecification=";

// The five-argument example, initialised in a child process: without -F the controller
// tries to start a session of its own, which the test process must not do. Started by a
// KorrProcessImpl, the child already leads a process group of its own, so it cannot.
OSTARA_TEST_CHILD_ROLE(fiveArguments)
{
    std::string d = argv[1];
    std::vector<std::string> five = {"-directory=" + d, "-appId=A", "java", "-Xmx1g", "Main"};
    Words words(five);
    ProcessController controller(words.argc(), words.argv());
    int rc = controller.initialize();
    std::cout << "rc=" << rc << "\noptionCount=" << controller.getOptionCount() << "\nappId=" << controller.getAppId()
              << "\nservice=" << controller.getAppIPCServiceName() << "\nlock=" << controller.getLockFileName()
              << "\nlogs=" << controller.getLogDirectory() << "\nsession=" << (getsid(0) == getpid()) << "\n";
    for (const std::string& arg : controller.getChildArguments()) {
        std::cout << "child=" << arg << "\n";
    }
    std::cout << "shutdown=" << controller.shutdown() << "\n";
    std::cout.flush();
    return 0;
}

// A second controller in another process, on the directory given, with the pipe name B.
OSTARA_TEST_CHILD_ROLE(secondController)
{
    std::vector<std::string> other = {"-F", "-directory=" + std::string(argv[1]), "-appId=B", "prog"};
    Words words(other);
    ProcessController second(words.argc(), words.argv());
    int rc = second.initialize();
    int down = second.shutdown();
    std::unique_ptr<IPCClient> client(IPCClient::newInstance("B"));
    bool served = true;
    try {
        client->connect();
    } catch (const KorrException&) {
        served = false;
    }
    std::cout << "rc=" << rc << " shutdown=" << down << " served=" << served << "\n";
    std::cout.flush();
    return 0;
}

class NoListener : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& r) override { return r; }
};

} // namespace

TEST_F(ControllerTest, FiveArgumentExampleGivesTheNamesFilesAndChildVector)
{
    std::ostringstream output;
    ProcessListener listener(output);
    std::string self = TestChild::selfPath();
    std::vector<std::string> childWords = {self, dir()};
    Words childArgs(childWords);
    setenv("OSTARA_TEST_CHILD", "fiveArguments", 1);
    KorrProcessImpl child(childArgs.argc(), childArgs.argv(), dir());
    child.start();
    unsetenv("OSTARA_TEST_CHILD");
    child.registerOutputStreamListener(listener);
    EXPECT_EQ(child.waitForProcess(), 0);
    std::string pid = std::to_string(child.getProcessId());
    // The log level joins with the system's separator.
    std::string expected = "rc=0\noptionCount=2\nappId=A\nservice=PCA\nlock=" + dir() + "/ostarapc.lck\nlogs=" + dir() +
                           KorrUtils::separator() + "logs\nsession=0\nchild=java\n"
                           "child=-Dcom.quillon.velbrix.native.pc.processid=" + pid + "\n"
                           "child=-Dcom.quillon.velbrix.ipc.service.name=PCA\n"
                           "child=-Dcom.quillon.velbrix.native.pc.lockFileName=" + dir() + "/ostarapc.lck\n"
                           "child=-Xmx1g\nchild=Main\nshutdown=0\n";
    std::string text = output.str();
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    EXPECT_EQ(text, expected);
    EXPECT_FALSE(std::filesystem::exists(dir() + "/ostarapc.lck"));
    EXPECT_NE(readFile(dir() + "/logs/pcevent0.log").find("ZRKPC0003"), std::string::npos);
}

TEST_F(ControllerTest, TraceOptionAmongTheApplicationArgumentsIsPassedOnceRightAfterTheProgram)
{
    ProcessController& c = make({"prog", "-a", TRACE + "com.x=all", "-b"}, std::string(REMOTE_QM) + "trace=ignored=all\n");
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(c.getTraceSpecification(), TRACE + "com.x=all");
    EXPECT_EQ(c.getChildArguments(), (std::vector<std::string>{"prog", TRACE + "com.x=all", "-a", "-b"}));
    // A later change reaches the next start in the same place; the application's copy stays out.
    c.setTraceSpecification("com.y=flow");
    EXPECT_EQ(c.getTraceSpecification(), TRACE + "com.y=flow");
    EXPECT_EQ(c.getChildArguments(), (std::vector<std::string>{"prog", TRACE + "com.y=flow", "-a", "-b"}));
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerTest, TracePropertyAppliesWhenNoOptionGivesOne)
{
    ProcessController& c = make({"prog"}, std::string(REMOTE_QM) + "trace=com.z=moderate\n");
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(c.getTraceSpecification(), TRACE + "com.z=moderate");
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerTest, LogDirectoryEndsInLogsExactlyOnceAndNonJavaProgramsGetNoOptions)
{
    std::string logs = dir() + "/logs";
    std::vector<std::string> program = {"-F", "-directory=" + logs, "-properties=" + properties(REMOTE_QM), "perl", "x"};
    ProcessController& c = make(program, REMOTE_QM, true);
    ASSERT_EQ(c.initialize(), 0);
    EXPECT_EQ(c.getLogDirectory(), logs);
    EXPECT_EQ(c.getAppId(), "perl");   // no -appId=: the program names the pipe
    EXPECT_EQ(c.getChildArguments(), (std::vector<std::string>{"perl", "x"}));
    EXPECT_EQ(c.shutdown(), 0);

    for (const char* name : {"cmd", "perl", "notjava7", "javacmd1", "java.exe.bak"}) {
        EXPECT_FALSE(ProcessControllerTestAccess::isJava(c, name)) << name;
    }
    for (const char* name : {"java", "/opt/jre/bin/java", "javaw", "C:\\jre\\bin\\javaw.exe"}) {
        EXPECT_TRUE(ProcessControllerTestAccess::isJava(c, name)) << name;
    }
    EXPECT_EQ(ProcessControllerTestAccess::getJavaHome(c, "D:\\jre\\bin\\javaw.exe"), "D:\\jre");
    EXPECT_EQ(ProcessControllerTestAccess::getJavaHome(c, "/opt/jre/bin/java"), "/opt/jre");
    EXPECT_EQ(ProcessControllerTestAccess::getJavaHome(c, "java"), "");
}

TEST_F(ControllerTest, MissingDirectoryOptionWarnsAndUsesTheCurrentDirectory)
{
    std::string before = KorrUtils::getCwd();
    ASSERT_EQ(chdir(dir().c_str()), 0);
    ProcessController& c = make({"-F", "-appId=A", "-properties=" + properties(REMOTE_QM), "prog"}, REMOTE_QM, true);
    int rc = c.initialize();
    ASSERT_EQ(chdir(before.c_str()), 0);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(std::filesystem::canonical(c.getWorkingDirectory()), std::filesystem::canonical(dir()));
    EXPECT_EQ(events("ZRKPC0002"), 1);
    EXPECT_NE(eventLog().find("-directory="), std::string::npos);
    EXPECT_EQ(c.shutdown(), 0);
}

TEST_F(ControllerTest, InitializeTwiceIsMisuseWithAReportAndLeavesTheFirstInPlace)
{
    ProcessController& c = make({"prog"});
    ASSERT_EQ(c.initialize(), 0);
    int reports = ffdcReports();
    EXPECT_EQ(c.initialize(), 70);
    EXPECT_EQ(ffdcReports(), reports + 1);
    EXPECT_TRUE(std::filesystem::exists(dir() + "/ostarapc.lck"));
    EXPECT_EQ(c.shutdown(), 70);
    EXPECT_FALSE(std::filesystem::exists(dir() + "/ostarapc.lck"));
}

TEST_F(ControllerTest, OperatorMistakesGetTheirMessageOnStandardErrorAndExitCode78)
{
    // No program after the options.
    {
        ProcessController& c = make({});
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.initialize(), 78);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("ZRKPC0001"), std::string::npos);
    }
    // A properties file that does not exist.
    {
        ProcessController& c = make({"-F", "-directory=" + dir(), "-properties=" + dir() + "/none.properties", "prog"},
                                    REMOTE_QM, true);
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.initialize(), 78);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("none.properties"), std::string::npos);
    }
    // A log directory that cannot be made, even by root: its parent is a file.
    {
        work.write("file", "x");
        ProcessController& c = make({"-F", "-directory=" + dir() + "/file/sub", "prog"}, REMOTE_QM, true);
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.initialize(), 78);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("ZRKPC0009"), std::string::npos);
        EXPECT_NE(err.find(dir() + "/file/sub" + KorrUtils::separator() + "logs"), std::string::npos) << err;
        EXPECT_EQ(c.shutdown(), 0);
    }
    // A bad or out-of-range number in the properties, a restart item too: named with its value.
    for (std::string item : {"outputLogSize=big", "maxRestartCount=-5"}) {
        ProcessController& c = make({"prog"}, std::string(REMOTE_QM) + item + "\n");
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.initialize(), 78);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(item.substr(0, item.find('='))), std::string::npos) << err;
        EXPECT_NE(err.find(item.substr(item.find('=') + 1)), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(dir() + "/ostarapc.lck"));
    }
}

TEST_F(ControllerTest, SecondControllerOnTheSameDirectoryFailsWith1AndLeavesTheFirstsLock)
{
    ProcessController& first = make({"prog"});
    ASSERT_EQ(first.initialize(), 0);
    std::ostringstream output;
    ProcessListener listener(output);
    std::vector<std::string> childWords = {TestChild::selfPath(), dir()};
    Words childArgs(childWords);
    setenv("OSTARA_TEST_CHILD", "secondController", 1);
    KorrProcessImpl child(childArgs.argc(), childArgs.argv(), dir());
    child.start();
    unsetenv("OSTARA_TEST_CHILD");
    child.registerOutputStreamListener(listener);
    EXPECT_EQ(child.waitForProcess(), 0);
    std::string lines = output.str();
    lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end()); // Windows programs end lines with CRLF
    EXPECT_NE(lines.find("rc=1 shutdown=0 served=0\n"), std::string::npos) << lines;
    EXPECT_EQ(events("ZRKPC0053"), 1);
    EXPECT_TRUE(std::filesystem::exists(dir() + "/ostarapc.lck"));
    EXPECT_EQ(first.shutdown(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir() + "/ostarapc.lck"));
}

TEST_F(ControllerTest, PipeNameAlreadyServedIs78AndLeavesNoLockFile)
{
    if (underWine()) {
        GTEST_SKIP() << "Wine does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE: a second server of a name is not refused";
    }
    NoListener listener;
    std::unique_ptr<IPCServer> squatter(IPCServer::newInstance("A", listener, -1));
    squatter->connect();
    ProcessController& c = make({"prog"});
    EXPECT_EQ(c.initialize(), 78);
    EXPECT_NE(c.run(), 0);   // refused: not initialised
    EXPECT_EQ(c.shutdown(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir() + "/ostarapc.lck"));
    EXPECT_NE(eventLog().find("ZRKNV0087"), std::string::npos);
    squatter->disconnect();
}
