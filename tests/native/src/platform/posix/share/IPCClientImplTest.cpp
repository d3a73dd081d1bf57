#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <memory>

#include "IPCClient.h"
#include "IPCClientImpl.h"
#include "IPCNotFoundException.h"
#include "IPCTimeoutException.h"
#include "IPCServer.h"
#include "IPCTestSupport.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "NativeProperties.h"

using namespace ipctest;

namespace {

class IPCClientImplTest : public IPCDirTest
{
};

template <class E>
std::string failure(const std::function<void()>& action)
{
    try {
        action();
    } catch (const KorrException& e) {
        EXPECT_NE(dynamic_cast<const E*>(&e), nullptr) << "unexpected exception class: " << e.toString();
        return e.getMessage();
    }
    ADD_FAILURE() << "no exception";
    return std::string();
}

// Becomes the user nobody for good; false when that is not possible.
bool becomeNobody()
{
    struct passwd* pw = ::getpwnam("nobody");
    return pw && ::setgroups(0, nullptr) == 0 && ::setgid(pw->pw_gid) == 0 && ::setuid(pw->pw_uid) == 0 &&
           ::geteuid() != 0;
}

// A listening socket at name's path that accepts only when the test does; -1 on failure.
int rawListener(const std::string& path, int backlog)
{
    int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, backlog) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

} // namespace

// Connects to argv[1] as the user nobody. Exit 0: IPCClient was refused with ZRKNV0177 and,
// when argv[2] is "raw", a raw connection got no reply but a closed socket.
OSTARA_TEST_CHILD_ROLE(ipcConnectAsNobody)
{
    if (!becomeNobody()) {
        return 10;
    }
    std::string name = argv[1];
    if (argc > 2 && std::string(argv[2]) == "raw") {
        RawConnection raw(std::string(::getenv("VELBRIX_IPC_DIR")) + "/" + name);
        if (!raw.connected) {
            std::printf("raw connect failed: %s\n", std::strerror(raw.connectError));
            return 11;
        }
        raw.send(bytesOf(IPCMessage(1, "GETS")));
        std::vector<unsigned char> r = raw.receive(5000);
        if (!raw.closed) {
            std::printf("raw connection got a reply of %zu bytes\n", r.size());
            return 12;
        }
    }
    std::unique_ptr<IPCClient> client(IPCClient::newInstance(name));
    try {
        client->connect();
    } catch (const IPCNotFoundException& e) {
        std::printf("%s\n", e.getMessage().c_str());
        return 13;
    } catch (const KorrException& e) {
        std::printf("%s\n", e.getMessage().c_str());
        return e.getMessage().find("ZRKNV0177") != std::string::npos ? 0 : 14;
    }
    std::printf("connected\n");
    return 15;
}

TEST_F(IPCClientImplTest, ReportsAMissingServerByItsShortName)
{
    std::unique_ptr<IPCClient> client(IPCClient::newInstance("agent@QM1"));
    EXPECT_EQ(failure<IPCNotFoundException>([&] { client->connect(); }),
              NLS::format(BUNDLE, "ZRKNV0066_OPEN_ERROR", "agent", KorrUtils::getLastErrorMessage(ENOENT)));

    // A socket whose server has died counts as no server as well.
    int dead = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    std::string path = socketPath("agent@QM1");
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(::bind(dead, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(dead);
    EXPECT_EQ(failure<IPCNotFoundException>([&] { client->connect(); }),
              NLS::format(BUNDLE, "ZRKNV0066_OPEN_ERROR", "agent", KorrUtils::getLastErrorMessage(ECONNREFUSED)));

    // A probe for a server takes both as a plain "no", and still fails on anything else.
    EXPECT_FALSE(client->connectIfServed());
    ::unlink(path.c_str());
    EXPECT_FALSE(client->connectIfServed());

    std::unique_ptr<IPCClient> bad(IPCClient::newInstance("x/y"));
    EXPECT_THROW(bad->connectIfServed(), KorrException);
    EXPECT_EQ(failure<KorrException>([&] { bad->connect(); }),
              NLS::format(BUNDLE, "ZRKNV0178_INVALID_IPC_NAME", "x/y", dir.path() + "/x/y", "107"));
}

TEST_F(IPCClientImplTest, RefusesMisuseAndReportsAServerThatHangsUp)
{
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("svc", listener, -1));
    server->connect();
    IPCClientImpl client("svc", nullptr);
    EXPECT_EQ(failure<KorrException>([&] { client.sendMessage(IPCMessage(1, "x"), 30); }),
              NLS::format(BUNDLE, "ZRKNV0062_NOT_CONNECTED"));
    client.disconnect();   // only traces
    client.connect();
    EXPECT_EQ(failure<KorrException>([&] { client.connect(); }), NLS::format(BUNDLE, "ZRKNV0065_ALREADY_CONNECTED"));
    // The interval changes only how often the wait looks: -1 and a long one answer alike.
    EXPECT_EQ(client.sendMessage(IPCMessage(1, "a"), -1).getMessageText(), "echo:a");
    EXPECT_EQ(client.sendMessage(IPCMessage(2, std::string(1024, 'b')), 60000).getMessageText(),
              ("echo:" + std::string(1024, 'b')).substr(0, 1024));
    client.disconnect();
    client.disconnect();
    // A client made with the application's properties talks the same way.
    NativeProperties properties;
    std::unique_ptr<IPCClient> withProperties(IPCClient::newInstance("svc", properties));
    withProperties->connect();
    EXPECT_EQ(withProperties->sendMessage(IPCMessage(3, "p"), 30).getMessageText(), "echo:p");
    withProperties->disconnect();
    server->disconnect();

    // A server that closes instead of answering is a failure, not an empty reply.
    int closing = rawListener(socketPath("closing"), 1);
    ASSERT_GE(closing, 0);
    IPCClientImpl refused("closing", nullptr);
    refused.connect();
    int accepted = ::accept(closing, nullptr, nullptr);
    std::vector<unsigned char> request(64);
    ASSERT_GT(::recv(accepted, request.data(), request.size(), MSG_DONTWAIT) , -2);
    std::thread hangUp([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::close(accepted);
    });
    std::string message = failure<KorrException>([&] { refused.sendMessage(IPCMessage(1, "x"), 30); });
    hangUp.join();
    EXPECT_TRUE(message.find("ZRKNV0064") != std::string::npos || message.find("ZRKNV0063") != std::string::npos)
        << message;
    refused.disconnect();
    ::close(closing);
}

TEST_F(IPCClientImplTest, AReplyLaterThanItsLimitIsNeverTakenForTheNextAnswer)
{
    int slow = rawListener(socketPath("slow"), 1);
    ASSERT_GE(slow, 0);
    IPCClientImpl client("slow", nullptr);
    client.connect();
    int accepted = ::accept(slow, nullptr, nullptr);
    failure<IPCTimeoutException>([&] { client.sendMessage(IPCMessage(1, "first"), 30, 100); });
    std::vector<unsigned char> late = bytesOf(IPCMessage(1, "late answer to first"));
    ::send(accepted, late.data(), late.size(), MSG_NOSIGNAL);
    EXPECT_EQ(failure<KorrException>([&] { client.sendMessage(IPCMessage(2, "second"), 30, 1000); }),
              NLS::format(BUNDLE, "ZRKNV0062_NOT_CONNECTED"));
    ::close(accepted);
    ::close(slow);
}

TEST_F(IPCClientImplTest, AnotherUsersClientIsNotAuthorized)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a client as another user";
    }
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("private", listener, -1));
    server->connect();
    ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);   // others may reach the socket file

    // The socket file's mode keeps the other user out.
    Child byMode("ipcConnectAsNobody", {}, {"private"});
    int status = byMode.wait();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << byMode.allOutput();

    // Even when the file lets it in, the server hangs up on it and the client says why.
    ASSERT_EQ(::chmod(socketPath("private").c_str(), 0666), 0);
    Child byCredentials("ipcConnectAsNobody", {}, {"private", "raw"});
    status = byCredentials.wait();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << byCredentials.allOutput();

    EXPECT_EQ(RawConnection(socketPath("private")).request(IPCMessage(1, "root")).getMessageText(), "echo:root");
    server->disconnect();
}

TEST_F(IPCClientImplTest, WaitsForAServerWhoseBacklogIsFull)
{
    // A listener that accepts nothing: once its backlog is full, connecting would block.
    std::string path = socketPath("busy");
    int listener = rawListener(path, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    std::vector<int> queued;
    for (int i = 0; i < 8; ++i) {
        int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ASSERT_EQ(errno, EAGAIN);
            ::close(s);
            break;
        }
        queued.push_back(s);
    }
    ASSERT_FALSE(queued.empty());

    IPCClientImpl client("busy", nullptr);
    std::atomic<bool> connected{false};
    std::thread waiting([&] {
        client.connect();
        connected = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(connected.load()) << "connect() did not wait for room in the backlog";
    int accepted = ::accept(listener, nullptr, nullptr);   // makes room
    EXPECT_TRUE(waitUntil([&] { return connected.load(); }));
    waiting.join();
    client.disconnect();
    ::close(accepted);
    for (int s : queued) {
        ::close(s);
    }
    ::close(listener);
}
