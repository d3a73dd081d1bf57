#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IPCClient.h"
#include "IPCListener.h"
#include "IPCMessage.h"
#include "IPCNotFoundException.h"
#include "IPCTimeoutException.h"
#include "IPCServer.h"
#include "KorrException.h"
#include "NLS.h"

#include <windows.h>
#include <aclapi.h>

namespace {

const char* const BUNDLE = "com.quillon.velbrix.nativ.common.ZRKNVMessages";

// A pipe name no other test or run uses.
std::string uniqueName(const char* stem)
{
    static int counter = 0;
    return std::string(stem) + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

bool underWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// Answers "echo:" + text; a request "hold" waits until release() (at most 30 s).
class EchoListener : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& request) override
    {
        if (request.getMessageText() == "hold") {
            std::unique_lock<std::mutex> lock(mutex);
            holding = true;
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(30), [this] { return released; });
        }
        return IPCMessage(request.getMessageId(), IPCMessage::STATUS_SUCCESS, "echo:" + request.getMessageText());
    }
    bool waitHolding()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [this] { return holding; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false;
    bool released = false;
};

// A connection that sends what no IPCClient would; every read has a deadline.
class RawPipe
{
public:
    explicit RawPipe(const std::string& name)
    {
        // The server makes its next instance only once it has handed the last one to a client.
        std::string path = "\\\\.\\pipe\\" + name;
        WaitNamedPipeA(path.c_str(), 10000);
        handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (handle != INVALID_HANDLE_VALUE) {
            SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
        }
    }
    ~RawPipe()
    {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    bool io(bool write, std::vector<unsigned char>& bytes)
    {
        OVERLAPPED o = {};
        o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD done = 0;
        BOOL ok = write ? WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &o)
                        : ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &o);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(o.hEvent, 20000) != WAIT_OBJECT_0) {
                CancelIoEx(handle, &o);
            }
            ok = TRUE;
        }
        // Only an operation that started may be waited for: a failed one never signals.
        ok = ok && GetOverlappedResult(handle, &o, &done, TRUE);
        CloseHandle(o.hEvent);
        bytes.resize(done);
        return ok != FALSE;
    }
    IPCMessage exchange(std::vector<unsigned char> request)
    {
        EXPECT_TRUE(io(true, request));
        std::vector<unsigned char> reply(IPCMessage::MAX_MESSAGE_DATA_LEN);
        EXPECT_TRUE(io(false, reply));
        return IPCMessage(reply.data(), static_cast<unsigned int>(reply.size()));
    }
    HANDLE handle;
};

std::vector<unsigned char> bytesOf(const IPCMessage& m)
{
    std::vector<unsigned char> b(IPCMessage::MAX_MESSAGE_DATA_LEN);
    int length = 0;
    m.getMessageBytes(b.data(), &length);
    b.resize(static_cast<std::size_t>(length));
    return b;
}

IPCMessage ask(const std::string& name, const std::string& text)
{
    std::unique_ptr<IPCClient> client(IPCClient::newInstance(name));
    client->connect();
    IPCMessage reply = client->sendMessage(IPCMessage(5, text), 30);
    client->disconnect();
    return reply;
}

} // namespace

TEST(IPCServerImplTest, AnswersRequestsShortAndOverLongMessagesOnOneConnection)
{
    std::string name = uniqueName("ipc-echo");
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance(name, listener, -1));
    server->connect();
    IPCMessage reply = ask(name, "hello");
    EXPECT_EQ(reply.getMessageId(), 5);
    EXPECT_EQ(reply.getMessageText(), "echo:hello");

    RawPipe c(name);
    ASSERT_NE(c.handle, INVALID_HANDLE_VALUE);
    IPCMessage tooShort = c.exchange({'K', 'R', 'R', 'I', 0, 0, 0});
    EXPECT_EQ(tooShort.getMessageStatus(), IPCMessage::STATUS_EXCEPTION);
    EXPECT_EQ(tooShort.getMessageId(), 0);
    EXPECT_EQ(tooShort.getMessageText(), NLS::format(BUNDLE, "ZRKNV0091_MESSAGE_TOO_SHORT", "7"));

    // Longer than a pipe buffer: one answer, and its tail is not taken for another request.
    std::vector<unsigned char> overLong = bytesOf(IPCMessage(3, ""));
    overLong[18] = 0x07;
    overLong[19] = 0xD0;
    overLong.resize(20 + 2000, 'o');
    EXPECT_EQ(c.exchange(overLong).getMessageStatus(), IPCMessage::STATUS_EXCEPTION);
    IPCMessage next = c.exchange(bytesOf(IPCMessage(9, "next")));
    EXPECT_EQ(next.getMessageId(), 9);
    EXPECT_EQ(next.getMessageText(), "echo:next");
    server->disconnect();
}

TEST(IPCServerImplTest, UnservedNameIsNotFoundWithTheAgentNameAlone)
{
    std::unique_ptr<IPCClient> client(IPCClient::newInstance(uniqueName("agent") + "@QM1"));
    try {
        client->connect();
        FAIL() << "connected to a name nobody serves";
    } catch (const IPCNotFoundException& e) {
        EXPECT_NE(e.getMessage().find("ZRKNV0066"), std::string::npos) << e.getMessage();
        EXPECT_EQ(e.getMessage().find("@QM1"), std::string::npos) << e.getMessage();
    }
    EXPECT_THROW(client->sendMessage(IPCMessage(1, "x"), 30), KorrException);
}

// A reply that comes after the caller's limit is never read as the answer to a later request.
TEST(IPCServerImplTest, AReplyLaterThanItsLimitIsNeverTakenForTheNextAnswer)
{
    std::string name = uniqueName("ipc-late");
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance(name, listener, -1));
    server->connect();
    std::unique_ptr<IPCClient> client(IPCClient::newInstance(name));
    client->connect();
    EXPECT_THROW(client->sendMessage(IPCMessage(1, "hold"), 30, 200), IPCTimeoutException);
    listener.release();
    try {
        client->sendMessage(IPCMessage(2, "second"), 30, 5000);
        ADD_FAILURE() << "a timed-out connection was used again";
    } catch (const KorrException& e) {
        EXPECT_EQ(e.getMessage(), NLS::format(BUNDLE, "ZRKNV0062_NOT_CONNECTED"));
    }
    server->disconnect();
}

TEST(IPCServerImplTest, SecondServerForAServedNameIsRefused)
{
    if (underWine()) {
        GTEST_SKIP() << "Wine does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE";
    }
    std::string name = uniqueName("ipc-twice");
    EchoListener listener;
    std::unique_ptr<IPCServer> first(IPCServer::newInstance(name, listener, -1));
    first->connect();
    std::unique_ptr<IPCServer> second(IPCServer::newInstance(name, listener, -1));
    try {
        second->connect();
        FAIL() << "two servers for one name";
    } catch (const KorrException& e) {
        EXPECT_NE(e.getMessage().find("ZRKNV0087"), std::string::npos) << e.getMessage();
    }
    first->disconnect();
}

// An idle client blocks in the server's read: disconnect must wake it (no thread is killed),
// yet let a request in progress write its reply, which its client still receives.
TEST(IPCServerImplTest, DisconnectWakesAnIdleClientAndFinishesARequestInProgress)
{
    std::string name = uniqueName("ipc-stop");
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance(name, listener, -1));
    server->connect();
    RawPipe idle(name);
    ASSERT_NE(idle.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(idle.exchange(bytesOf(IPCMessage(1, "first"))).getMessageText(), "echo:first");

    auto held = std::async(std::launch::async, [&name] { return ask(name, "hold"); });
    ASSERT_TRUE(listener.waitHolding());
    auto disconnecting = std::async(std::launch::async, [&server] { server->disconnect(); });
    EXPECT_EQ(disconnecting.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    listener.release();
    ASSERT_EQ(disconnecting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_EQ(held.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(held.get().getMessageText(), "echo:hold");

    std::vector<unsigned char> none(IPCMessage::MAX_MESSAGE_DATA_LEN);
    EXPECT_FALSE(idle.io(false, none)); // its connection was closed, not left hanging
    EXPECT_THROW(ask(name, "after"), IPCNotFoundException);
}

TEST(IPCServerImplTest, PipeAllowsAdministratorsThenTheServersAccountOnly)
{
    std::string name = uniqueName("ipc-acl");
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance(name, listener, -1));
    server->connect();
    RawPipe c(name);
    ASSERT_NE(c.handle, INVALID_HANDLE_VALUE);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(c.handle, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 2);

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                         0, &admins));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    std::vector<unsigned char> user(256);
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size));
    CloseHandle(token);
    PSID expected[2] = {admins, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid};
    for (DWORD i = 0; i < 2; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
        EXPECT_EQ(ace->Header.AceFlags, 0) << i;
        // Stored as written, or with the generic right mapped to the pipe's full access.
        EXPECT_TRUE(ace->Mask == GENERIC_ALL || ace->Mask == FILE_ALL_ACCESS) << i << ": " << ace->Mask;
        EXPECT_TRUE(EqualSid(&ace->SidStart, expected[i])) << i;
    }
    FreeSid(admins);
    LocalFree(descriptor);
    server->disconnect();
}

TEST(IPCServerImplTest, ClosesAConnectionThatSendsNoRequestInTime)
{
    std::string name = uniqueName("ipc-idle");
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance(name, listener, -1));
    server->setIdleLimit(300);
    server->connect();
    RawPipe busy(name);
    ASSERT_NE(busy.handle, INVALID_HANDLE_VALUE);
    RawPipe silent(name);
    ASSERT_NE(silent.handle, INVALID_HANDLE_VALUE);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {   // each request starts the time again
        Sleep(150);
        EXPECT_EQ(busy.exchange(bytesOf(IPCMessage(1, "a"))).getMessageText(), "echo:a");
    }
    // The server's end goes: the read fails at once rather than at its 20 s deadline.
    std::vector<unsigned char> nothing(16);
    EXPECT_FALSE(silent.io(false, nothing));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(15));
    server->disconnect();
}

TEST(IPCServerImplTest, ConnectionsOverTheLimitAreToldWhyAndReportedOnceAMinute)
{
    std::string name = uniqueName("ipc-one");
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance(name, listener, 1));
    server->connect();
    ::testing::internal::CaptureStderr();
    std::unique_ptr<IPCClient> held(IPCClient::newInstance(name));
    held->connect();
    EXPECT_EQ(held->sendMessage(IPCMessage(1, "a"), 30).getMessageText(), "echo:a");
    std::string text = NLS::format(BUNDLE, "ZRKNV0090_MAX_CONNECTIONS_EXCEEDED", name, "1");
    // Each client over the limit reads the reason its connection was closed.
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<IPCClient> refused(IPCClient::newInstance(name));
        refused->connect();
        IPCMessage reply = refused->sendMessage(IPCMessage(2, "b"), 30, 20000);
        EXPECT_EQ(reply.getMessageStatus(), IPCMessage::STATUS_EXCEPTION) << i;
        EXPECT_EQ(reply.getMessageText(), text) << i;
    }
    held->disconnect();
    server->disconnect();
    std::string events = ::testing::internal::GetCapturedStderr();
    std::string::size_type first = events.find(text);
    EXPECT_NE(first, std::string::npos) << events;
    EXPECT_EQ(events.find(text, first + 1), std::string::npos) << events;
}
