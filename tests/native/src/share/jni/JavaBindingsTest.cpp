// The Java bindings in a real JVM: the harness class decides each case inside Java, and these
// tests add what only another process can see (the native client's view of a reply, events of
// native reader threads, a pipe of another user).
#include <pwd.h>
#include <sys/stat.h>

#include <memory>

#include "IPCClient.h"
#include "IPCListener.h"
#include "IPCMessage.h"
#include "IPCServer.h"
#include "JavaTestSupport.h"
#include "KorrException.h"

using javatest::Program;

namespace {

class EchoListener : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& request) override
    {
        return IPCMessage(request.getMessageId(), IPCMessage::STATUS_SUCCESS, request.getMessageText());
    }
};

IPCMessage ask(const std::string& service, const std::string& text)
{
    try {
        std::unique_ptr<IPCClient> client(IPCClient::newInstance(service));
        client->connect();
        IPCMessage reply = client->sendMessage(IPCMessage(7, IPCMessage::STATUS_SUCCESS, text), 10);
        client->disconnect();
        return reply;
    } catch (const KorrException& e) {
        ADD_FAILURE() << text << ": " << e.toString();
        return IPCMessage();
    }
}

} // namespace

TEST(JavaBindingsTest, JavaCallersSeeHandlerExceptionsEmptyRepliesMissingHandlersAndNullShutdowns)
{
    TempDir dir;
    javatest::runHarnessCase(dir, {"callbacks"});
}

TEST(JavaBindingsTest, UtilityMethodsRaiseTheirJavaExceptionsAndNullPathsNeverReachTheFileSystem)
{
    TempDir dir;
    javatest::runHarnessCase(dir, {"utilities"});
}

TEST(JavaBindingsTest, ManyJavaCallersAndTracingNativeThreadsLeaveNoThreadAttachedAndTheJvmExits)
{
    TempDir dir;
    javatest::runHarnessCase(dir, {"concurrent"}, 240000);
}

TEST(JavaBindingsTest, NativeClientsSeeJavaHandlerFailuresAndReaderThreadEventsReachTheJavaEventLog)
{
    TempDir dir;
    ::setenv("VELBRIX_IPC_DIR", dir.path().c_str(), 1);
    std::unique_ptr<Program> jvm(javatest::startHarness(dir, {"serve", "javaServed"}));
    ASSERT_TRUE(jvm->waitForOutput("READY", 60000)) << jvm->out() << jvm->err();

    IPCMessage failed = ask("javaServed", "throw");
    EXPECT_EQ(IPCMessage::STATUS_EXCEPTION, failed.getMessageStatus());
    EXPECT_EQ(0u, failed.getMessageText().find("ZRKNV0070E")) << failed.getMessageText();
    EXPECT_EQ(7, failed.getMessageId());
    IPCMessage empty = ask("javaServed", "null");
    EXPECT_EQ(IPCMessage::STATUS_SUCCESS, empty.getMessageStatus());
    EXPECT_EQ("", empty.getMessageText());
    EXPECT_EQ("4", ask("javaServed", "ab\xff\x01").getMessageText());   // every byte reaches Java

    javatest::sendOversizedPacket(dir.file("javaServed"));
    EXPECT_EQ("", ask("javaServed", "STOP").getMessageText());
    EXPECT_EQ(0, jvm->wait(60000)) << jvm->out() << jvm->err();
    ::unsetenv("VELBRIX_IPC_DIR");

    std::string events = javatest::readFile(dir.file("events.log"));
    EXPECT_NE(std::string::npos, events.find("IPCClientRunnable E ZRKNV0085E")) << events;
    // The handler's exception is described on the JVM's standard error.
    EXPECT_NE(std::string::npos, jvm->err().find("the handler refuses")) << jvm->err();
    EXPECT_EQ("", javatest::jvmComplaints(jvm->out() + jvm->err()));
}

TEST(JavaBindingsTest, PipeOfAnotherUserIsAnIPCExceptionOfItsOwnNotNotFound)
{
    passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "needs root and the user nobody to run a JVM as another user";
    }
    TempDir dir;
    ASSERT_EQ(0, ::chmod(dir.path().c_str(), 0755));
    ::setenv("VELBRIX_IPC_DIR", dir.path().c_str(), 1);
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("rootOnly", listener, -1));
    server->connect();

    std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                                     "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"};
    std::vector<std::string> java = javatest::javaCommand(
        {"-XX:-UsePerfData", "com.quillon.velbrix.test.JniHarness", "foreignPipe", dir.path(), "rootOnly"});
    argv.insert(argv.end(), java.begin(), java.end());
    Program jvm(argv, javatest::jvmEnvironment(dir), dir.file("jvm.out"), dir.file("jvm.err"));
    EXPECT_EQ(0, jvm.wait(120000)) << jvm.out() << jvm.err();
    EXPECT_NE(std::string::npos, jvm.out().find("PASS foreignPipe")) << jvm.out() << jvm.err();
    EXPECT_EQ("", javatest::jvmComplaints(jvm.out() + jvm.err()));
    server->disconnect();
    ::unsetenv("VELBRIX_IPC_DIR");
}
