#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CollectingListener.h"
#include "IPCClient.h"
#include "IPCMessage.h"
#include "IPCNotFoundException.h"
#include "KorrException.h"
#include "KorrProcessImpl.h"
#include "TempDir.h"
#include "TestChild.h"

#include <windows.h>
#include <shellapi.h>

namespace {

// The child's standard output, unaltered by the C runtime's text mode.
void writeOut(const std::string& bytes)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string narrow(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

// Sets the test-child role for the processes started while it lives.
class ChildRole
{
public:
    explicit ChildRole(const char* role) { SetEnvironmentVariableA("OSTARA_TEST_CHILD", role); }
    ~ChildRole() { SetEnvironmentVariableA("OSTARA_TEST_CHILD", nullptr); }
};

// Starts the test binary in a role, its output (and error) going to the listeners.
std::unique_ptr<KorrProcessImpl> launch(const char* role, std::vector<std::string> args, CollectingListener& out,
                                        CollectingListener* err = nullptr)
{
    std::string self = TestChild::selfPath();
    args.insert(args.begin(), self.substr(0, self.size() - 4)); // without ".exe", which start() adds
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(&a[0]);
    }
    std::unique_ptr<KorrProcessImpl> p(new KorrProcessImpl(static_cast<int>(argv.size()), argv.data()));
    p->registerOutputStreamListener(out);
    if (err) {
        p->registerErrorStreamListener(*err);
    }
    ChildRole hold(role);
    p->start();
    return p;
}

// Runs waitForProcess with a deadline; -999 when it did not return in time.
int waitWithDeadline(KorrProcessImpl& process, int seconds)
{
    auto waiting = std::async(std::launch::async, [&process] { return process.waitForProcess(); });
    if (waiting.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        process.stop(); // lets the wait end so that the test can fail instead of hanging
        waiting.wait();
        return -999;
    }
    return waiting.get();
}

bool waitForText(CollectingListener& listener, const std::string& text, int seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (listener.received().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

} // namespace

OSTARA_TEST_CHILD_ROLE(echoArguments)
{
    int count = 0;
    wchar_t** parsed = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string out;
    for (int i = 1; i < count; ++i) {
        out += "[" + narrow(parsed[i]) + "]";
    }
    LocalFree(parsed);
    writeOut(out);
    return 7;
}

OSTARA_TEST_CHILD_ROLE(probeInheritedHandle)
{
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::strtoull(argv[1], nullptr, 10)));
    DWORD flags = 0;
    writeOut(GetHandleInformation(h, &flags) ? "inherited" : "not inherited");
    return 0;
}

OSTARA_TEST_CHILD_ROLE(writeBytes)
{
    std::string bytes("a\0b\0c", 5);
    bytes += std::string(100000, 'x');
    writeOut(bytes);
    return 0;
}

OSTARA_TEST_CHILD_ROLE(echoInput)
{
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        writeOut(std::string(buffer, got));
    }
    return 0;
}

OSTARA_TEST_CHILD_ROLE(sleepLong)
{
    Sleep(60000);
    return 3;
}

// Leaves a grandchild that holds this child's output open, then waits to be stopped.
OSTARA_TEST_CHILD_ROLE(leaveGrandchild)
{
    std::string line = "\"" + TestChild::selfPath() + "\"";
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    SetEnvironmentVariableA("OSTARA_TEST_CHILD", "sleepLong");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        return 1;
    }
    writeOut("grandchild " + std::to_string(info.dwProcessId) + ";");
    Sleep(60000);
    return 4;
}

TEST(KorrProcessImplTest, ArgumentsReachTheChildUnchangedAndItsExitCodeIsReturned)
{
    std::vector<std::string> args = {"C:\\dir with blank\\x\\", "plain", "with blank", "quote\"inside",
                                     "\"starts quoted\"", "trail\\", "two\\\\", "\\\\server\\\"x", "", "a:b c",
                                     "tab\there"};
    CollectingListener out;
    std::unique_ptr<KorrProcessImpl> p = launch("echoArguments", args, out);
    EXPECT_EQ(waitWithDeadline(*p, 30), 7);
    std::string expected;
    for (const std::string& a : args) {
        expected += "[" + a + "]";
    }
    EXPECT_EQ(out.received(), expected);
    EXPECT_EQ(p->getExitCode(), 7);

    std::string missing = TestChild::selfPath() + "-missing";
    char* argv[] = {&missing[0]};
    KorrProcessImpl absent(1, argv);
    try {
        absent.start();
        FAIL() << "a missing program started";
    } catch (const KorrException& e) {
        EXPECT_NE(e.getMessage().find("ZRKNV0007"), std::string::npos) << e.getMessage();
        EXPECT_NE(e.getMessage().find("-missing.exe"), std::string::npos) << e.getMessage();
    }
}

TEST(KorrProcessImplTest, OnlyTheThreePipeEndsAreInherited)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE marker = CreateEventA(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(marker, nullptr);
    CollectingListener out;
    std::unique_ptr<KorrProcessImpl> p =
        launch("probeInheritedHandle", {std::to_string(reinterpret_cast<ULONG_PTR>(marker))}, out);
    EXPECT_EQ(waitWithDeadline(*p, 30), 0);
    EXPECT_EQ(out.received(), "not inherited");
    CloseHandle(marker);
}

TEST(KorrProcessImplTest, ChunksAreTheBytesReadWithNulBytesKept)
{
    CollectingListener out;
    CollectingListener err;
    std::unique_ptr<KorrProcessImpl> p = launch("writeBytes", {}, out, &err);
    EXPECT_EQ(waitWithDeadline(*p, 30), 0);
    std::string expected("a\0b\0c", 5);
    expected += std::string(100000, 'x');
    EXPECT_EQ(out.received(), expected);
    EXPECT_GE(out.chunks(), 2);
    EXPECT_EQ(err.chunks(), 0);
}

// The grandchild keeps the output pipe open: stop() ends it with the child (they share the
// child's job), so waitForProcess returns and nothing is left running.
TEST(KorrProcessImplTest, StopEndsAChildAndTheGrandchildHoldingThePipe)
{
    CollectingListener out;
    std::unique_ptr<KorrProcessImpl> p = launch("leaveGrandchild", {}, out);
    ASSERT_TRUE(waitForText(out, ";", 30)) << out.received();
    EXPECT_EQ(p->getExitCode(), 259); // STILL_ACTIVE, which windows.h makes a macro
    ASSERT_EQ(out.received().compare(0, 11, "grandchild "), 0) << out.received();
    DWORD grandchild = static_cast<DWORD>(std::strtoul(out.received().c_str() + 11, nullptr, 10));
    HANDLE g = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, grandchild);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(WaitForSingleObject(g, 0), static_cast<DWORD>(WAIT_TIMEOUT)); // it is really holding on
    p->stop();
    EXPECT_EQ(waitWithDeadline(*p, 20), 0);
    EXPECT_EQ(p->getExitCode(), 0);
    bool ended = WaitForSingleObject(g, 10000) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended) << "the grandchild outlived stop()";
    if (!ended) {
        TerminateProcess(g, 0);
        WaitForSingleObject(g, 10000);
    }
    CloseHandle(g);
}

// The first reader waits in ReadFile when it is replaced: it must be woken (never killed),
// and what it had not read goes to the second one.
TEST(KorrProcessImplTest, ReplacingAReaderWakesItWithoutLosingOutput)
{
    CollectingListener first;
    CollectingListener second;
    std::unique_ptr<KorrProcessImpl> p = launch("echoInput", {}, first);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(p->getInputStream(), "one", 3, &written, nullptr));
    ASSERT_TRUE(waitForText(first, "one", 30)) << first.received();
    auto replacing = std::async(std::launch::async, [&] { p->registerOutputStreamListener(second); });
    if (replacing.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, p->getProcessId());
        TerminateProcess(child, 0); // ends the read that was not woken, so the test can end
        CloseHandle(child);
        FAIL() << "the blocked reader was not woken";
    }
    ASSERT_TRUE(WriteFile(p->getInputStream(), "two", 3, &written, nullptr));
    EXPECT_TRUE(waitForText(second, "two", 30)) << second.received();
    p->stop();
    EXPECT_EQ(waitWithDeadline(*p, 20), 0);
    EXPECT_EQ(first.received(), "one");
    EXPECT_EQ(second.received(), "two");
}

// The sample agent as the controller starts it: "java" under the fake JDK, ".exe" added.
TEST(KorrProcessImplTest, SampleAgentExeServesItsPipeAndEndsOnAStopRequest)
{
    std::string java = std::string(OSTARA_TOOLS_DIR) + "/fakejdk/bin/java";
    std::string service = "agent-" + std::to_string(GetCurrentProcessId());
    std::string option = "-Dcom.quillon.velbrix.ipc.service.name=" + service;
    char* argv[] = {&java[0], &option[0]};
    TempDir work;
    KorrProcessImpl agent(2, argv, work.path());
    CollectingListener out;
    agent.registerOutputStreamListener(out);
    agent.start();
    // The agent says it started before its pipe exists: look for the pipe until a deadline.
    std::unique_ptr<IPCClient> client(IPCClient::newInstance(service));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (bool connected = false; !connected;) {
        try {
            client->connect();
            connected = true;
        } catch (const IPCNotFoundException&) {
            if (std::chrono::steady_clock::now() > deadline) {
                agent.stop();
                FAIL() << "the agent serves no pipe: " << out.received();
            }
            Sleep(20);
        }
    }
    try {
        IPCMessage status = client->sendMessage(IPCMessage(1, "GETA"), 30);
        EXPECT_NE(status.getMessageText().find("pid=" + std::to_string(agent.getProcessId())), std::string::npos)
            << status.getMessageText();
        EXPECT_EQ(client->sendMessage(IPCMessage(2, "STOPC"), -1).getMessageStatus(), IPCMessage::STATUS_SUCCESS);
    } catch (const KorrException& e) {
        ADD_FAILURE() << e.getMessage();
        agent.stop();
    }
    client->disconnect();
    EXPECT_EQ(waitWithDeadline(agent, 30), 0);
    EXPECT_NE(out.received().find("exits with 0"), std::string::npos) << out.received();
}
