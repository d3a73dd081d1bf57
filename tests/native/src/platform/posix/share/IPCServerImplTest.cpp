#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>

#include "IPCClient.h"
#include "IPCEndpoint.h"
#include "IPCServer.h"
#include "IPCServerImpl.h"
#include "IPCTestSupport.h"
#include "KorrUtils.h"
#include "NLS.h"

using namespace ipctest;

namespace {

class IPCServerImplTest : public IPCDirTest
{
};

std::string connectFailure(IPCServer& server)
{
    try {
        server.connect();
    } catch (const KorrException& e) {
        return e.getMessage();
    }
    ADD_FAILURE() << "connect() succeeded";
    return std::string();
}

IPCMessage ask(const std::string& name, const std::string& text, long id = 4)
{
    std::unique_ptr<IPCClient> client(IPCClient::newInstance(name));
    client->connect();
    IPCMessage reply = client->sendMessage(IPCMessage(id, text), 30);
    client->disconnect();
    return reply;
}

} // namespace

// A child that serves a name until it is killed.
OSTARA_TEST_CHILD_ROLE(ipcServeUntilKilled)
{
    (void)argc;
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance(argv[1], listener, -1));
    server->connect();
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        ::pause();
    }
}

TEST_F(IPCServerImplTest, ServesRequestsAndCanConnectAgain)
{
    EchoListener listener;
    IPCServerImpl server("svc", listener, -1, "admins");
    std::ostringstream text;
    text << server;
    EXPECT_EQ(text.str(), "IPCServerImpl svc");
    EXPECT_EQ(server.getAdminGroupName(), "admins");
    EXPECT_EQ(&server.getListener(), &listener);

    server.connect();
    struct stat st;
    ASSERT_EQ(::lstat(socketPath("svc").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());

    IPCMessage reply = ask("svc", "hello", 42);
    EXPECT_EQ(reply.getMessageId(), 42);
    EXPECT_EQ(reply.getMessageStatus(), IPCMessage::STATUS_SUCCESS);
    EXPECT_EQ(reply.getMessageText(), "echo:hello");

    EXPECT_NE(connectFailure(server).find(NLS::format(BUNDLE, "ZRKNV0065_ALREADY_CONNECTED")), std::string::npos);
    server.disconnect();
    EXPECT_NE(::lstat(socketPath("svc").c_str(), &st), 0) << "socket file left behind";
    try {
        server.disconnect();
        ADD_FAILURE() << "second disconnect() succeeded";
    } catch (const KorrException& e) {
        EXPECT_EQ(e.getMessage(), NLS::format(BUNDLE, "ZRKNV0062_NOT_CONNECTED"));
    }

    server.connect();
    EXPECT_EQ(ask("svc", "again").getMessageText(), "echo:again");
    // The destructor disconnects a connected server.
}

TEST_F(IPCServerImplTest, ServesManyClientsAtOnceWithoutLimit)
{
    // Every client is held inside onMessage until all of them are: only concurrent
    // connections, each on its own thread, get there.
    const int clients = 12;
    class Barrier : public IPCListener
    {
    public:
        IPCMessage onMessage(const IPCMessage& request) override
        {
            std::unique_lock<std::mutex> hold(lock);
            ++inside;
            changed.notify_all();
            bool all = changed.wait_for(hold, std::chrono::seconds(20), [this] { return inside >= clients; });
            return IPCMessage(request.getMessageId(), all ? 0 : 2, "");
        }
        std::mutex lock;
        std::condition_variable changed;
        int inside = 0;
    } barrier;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("many", barrier, -1));
    server->connect();
    std::vector<std::thread> threads;
    std::atomic<int> served{0};
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&served, i] {
            if (ask("many", "x", i).getMessageStatus() == 0) {
                ++served;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(served.load(), clients);
    server->disconnect();
}

TEST_F(IPCServerImplTest, ConnectionLimitClosesTheConnectionsBeyondIt)
{
    EchoListener listener;
    {
        std::unique_ptr<IPCServer> none(IPCServer::newInstance("none", listener, 0));
        none->connect();
        ::testing::internal::CaptureStderr();
        // Each client over the limit is told why; the event log says so once a minute.
        for (int i = 0; i < 2; ++i) {
            std::unique_ptr<IPCClient> client(IPCClient::newInstance("none"));
            client->connect();
            IPCMessage refusal = client->sendMessage(IPCMessage(1, "x"), 30);
            EXPECT_EQ(refusal.getMessageStatus(), IPCMessage::STATUS_EXCEPTION);
            EXPECT_EQ(refusal.getMessageText(), NLS::format(BUNDLE, "ZRKNV0090_MAX_CONNECTIONS_EXCEEDED", "none", "0"));
        }
        none->disconnect();
        std::string events = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(events.find(NLS::format(BUNDLE, "ZRKNV0090_MAX_CONNECTIONS_EXCEEDED", "none", "0")),
                  std::string::npos)
            << events;
    }

    std::unique_ptr<IPCServer> one(IPCServer::newInstance("one", listener, 1));
    one->connect();
    RawConnection first(socketPath("one"));
    EXPECT_EQ(first.request(IPCMessage(1, "a")).getMessageText(), "echo:a");
    ::testing::internal::CaptureStderr();
    RawConnection second(socketPath("one"));
    second.send(bytesOf(IPCMessage(2, "b")));
    std::vector<unsigned char> refusal = second.receive();
    if (refusal.empty()) {
        refusal = second.receive();   // a reset (our request went unread) may come ahead of it
    }
    EXPECT_NE(IPCMessage(refusal.data(), static_cast<unsigned int>(refusal.size())).getMessageText().find("ZRKNV0090"),
              std::string::npos);
    second.receive();
    EXPECT_TRUE(second.closed);
    ::testing::internal::GetCapturedStderr();
    // Once the first client has gone, its place is free again.
    ::shutdown(first.fd, SHUT_RDWR);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(waitUntil([] {
        try {
            return ask("one", "c").getMessageText() == "echo:c";
        } catch (const KorrException&) {
            return false;   // the first client's thread has not ended yet
        }
    }));
    ::testing::internal::GetCapturedStderr();
    one->disconnect();
}

TEST_F(IPCServerImplTest, AnswersMalformedPacketsAndKeepsTheConnection)
{
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("bad", listener, -1));
    server->connect();
    RawConnection c(socketPath("bad"));
    ASSERT_TRUE(c.connected);

    std::vector<unsigned char> seven = {'K', 'R', 'R', 'I', 0, 0, 0};
    c.send(seven);
    std::vector<unsigned char> r = c.receive();
    IPCMessage tooShort(r.data(), static_cast<unsigned int>(r.size()));
    EXPECT_EQ(tooShort.getMessageStatus(), IPCMessage::STATUS_EXCEPTION);
    EXPECT_EQ(tooShort.getMessageId(), 0);
    EXPECT_EQ(tooShort.getMessageText(), NLS::format(BUNDLE, "ZRKNV0091_MESSAGE_TOO_SHORT", "7"));
    EXPECT_EQ(c.request(IPCMessage(8, "next")).getMessageText(), "echo:next");

    std::vector<unsigned char> wrongEye = bytesOf(IPCMessage(3, "x"));
    wrongEye[0] = 'Q';
    std::vector<unsigned char> lyingHeader = bytesOf(IPCMessage(3, "x"));
    lyingHeader[4] = 0xFF;
    std::vector<unsigned char> lyingText = bytesOf(IPCMessage(3, "x"));
    lyingText[16] = 0x7F;
    std::vector<unsigned char> overLong = bytesOf(IPCMessage(3, ""));
    overLong[18] = 0x07;           // 2000 bytes announced
    overLong[19] = 0xD0;
    overLong.resize(20 + 2000, 'o');
    std::vector<unsigned char> noise(65536);
    for (std::size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<unsigned char>(i * 7919 + 13);
    }
    for (const auto& packet : {wrongEye, lyingHeader, lyingText, overLong, noise}) {
        ASSERT_TRUE(c.send(packet)) << packet.size();
        r = c.receive();
        ASSERT_FALSE(c.closed) << packet.size();
        IPCMessage reply(r.data(), static_cast<unsigned int>(r.size()));
        EXPECT_EQ(reply.getMessageStatus(), IPCMessage::STATUS_EXCEPTION) << packet.size();
        EXPECT_EQ(c.request(IPCMessage(9, "ok")).getMessageText(), "echo:ok") << packet.size();
    }

    // A listener's KorrException becomes the reply, with the request's id.
    IPCMessage refused = c.request(IPCMessage(77, "throw"));
    EXPECT_EQ(refused.getMessageId(), 77);
    EXPECT_EQ(refused.getMessageStatus(), IPCMessage::STATUS_EXCEPTION);
    EXPECT_EQ(refused.getMessageText(), "listener refused");

    // An empty packet ends the connection; the server goes on serving others.
    c.send({});
    c.receive();
    EXPECT_TRUE(c.closed);
    EXPECT_EQ(ask("bad", "still").getMessageText(), "echo:still");
    server->disconnect();
}

TEST_F(IPCServerImplTest, DisconnectEndsIdleClientsAtOnceButFinishesARequestInProgress)
{
    class Gate : public IPCListener
    {
    public:
        IPCMessage onMessage(const IPCMessage& request) override
        {
            std::unique_lock<std::mutex> hold(lock);
            entered = true;
            changed.notify_all();
            changed.wait_for(hold, std::chrono::seconds(30), [this] { return open; });
            return IPCMessage(request.getMessageId(), 0, "done");
        }
        std::mutex lock;
        std::condition_variable changed;
        bool entered = false;
        bool open = false;
    } gate;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("stop", gate, -1));
    server->connect();
    RawConnection idle(socketPath("stop"));
    RawConnection busy(socketPath("stop"));
    ASSERT_TRUE(idle.connected && busy.connected);
    busy.send(bytesOf(IPCMessage(5, "slow")));
    ASSERT_TRUE(waitUntil([&gate] {
        std::lock_guard<std::mutex> hold(gate.lock);
        return gate.entered;
    }));

    std::atomic<bool> disconnected{false};
    std::thread stopper([&] {
        server->disconnect();
        disconnected = true;
    });
    // The idle client is released while the busy one is still inside its request.
    idle.receive(5000);
    EXPECT_TRUE(idle.closed);
    EXPECT_FALSE(disconnected.load());
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.open = true;
        gate.changed.notify_all();
    }
    std::vector<unsigned char> r = busy.receive();
    ASSERT_FALSE(busy.closed);
    EXPECT_EQ(IPCMessage(r.data(), static_cast<unsigned int>(r.size())).getMessageText(), "done");
    stopper.join();
    EXPECT_TRUE(disconnected.load());
    busy.receive();
    EXPECT_TRUE(busy.closed);
}

TEST_F(IPCServerImplTest, RefusesASecondServerAndTakesOverASocketLeftByAKilledOne)
{
    EchoListener listener;
    Child child("ipcServeUntilKilled", {}, {"taken"});
    ASSERT_TRUE(child.waitForOutput("ready"));

    std::unique_ptr<IPCServer> second(IPCServer::newInstance("taken", listener, -1));
    EXPECT_EQ(connectFailure(*second), NLS::format(BUNDLE, "ZRKNV0087_CREATE_NAMED_PIPE_FAILED", "taken",
                                                   KorrUtils::getLastErrorMessage(EADDRINUSE)));
    EXPECT_EQ(ask("taken", "live").getMessageText(), "echo:live");   // the first one is untouched

    child.kill(SIGKILL);
    ASSERT_GE(child.wait(), 0);
    struct stat st;
    ASSERT_EQ(::lstat(socketPath("taken").c_str(), &st), 0) << "the killed server left no socket";
    second->connect();
    EXPECT_EQ(ask("taken", "mine").getMessageText(), "echo:mine");

    // In the same process, too, a name is served once.
    std::unique_ptr<IPCServer> third(IPCServer::newInstance("taken", listener, -1));
    EXPECT_NE(connectFailure(*third).find("ZRKNV0087"), std::string::npos);
    second->disconnect();
}

TEST_F(IPCServerImplTest, RefusesNamesAndDirectoriesItCannotUseSafely)
{
    EchoListener listener;
    std::string longName(120, 'n');
    for (const std::string& name : {std::string("a/b"), std::string(""), std::string(".."), longName}) {
        std::unique_ptr<IPCServer> server(IPCServer::newInstance(name, listener, -1));
        std::string path = dir.path() + "/" + name;
        EXPECT_EQ(connectFailure(*server), NLS::format(BUNDLE, "ZRKNV0178_INVALID_IPC_NAME", name, path, "107"));
    }

    // A file that is not a socket is never removed to make room.
    std::string file = dir.write("plain", "keep me");
    std::unique_ptr<IPCServer> plain(IPCServer::newInstance("plain", listener, -1));
    EXPECT_NE(connectFailure(*plain).find("ZRKNV0187"), std::string::npos);
    struct stat st;
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    // A lock held elsewhere is reported at once, never waited for.
    int held = ::open(dir.file("busy.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::unique_ptr<IPCServer> busy(IPCServer::newInstance("busy", listener, -1));
    EXPECT_EQ(connectFailure(*busy), NLS::format(BUNDLE, "ZRKNV0188_IPC_NAME_LOCKED", "busy", dir.file("busy.lock")));
    ::close(held);
    busy->connect();
    busy->disconnect();

    // A missing directory is made, world-writable with the sticky bit like /tmp.
    std::string made = dir.path() + "/made";
    ::setenv("VELBRIX_IPC_DIR", made.c_str(), 1);
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("svc", listener, -1));
    server->connect();
    ASSERT_EQ(::lstat(made.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u);
    server->disconnect();

    // One that other users could write into without the sticky bit is refused.
    ::chmod(made.c_str(), 0777);
    EXPECT_NE(connectFailure(*server).find("ZRKNV0180"), std::string::npos);
    // And so is one that belongs to another user, who could remove our socket.
    if (::geteuid() == 0) {
        ::chmod(made.c_str(), 01777);
        ASSERT_EQ(::chown(made.c_str(), 65534, 65534), 0);
        EXPECT_NE(connectFailure(*server).find("ZRKNV0180"), std::string::npos);
    }
}

// What another user can plant beside a root server: a socket or a lock file of the name, or
// the server's own directory. None of them hangs the server; each is named with its owner.
TEST_F(IPCServerImplTest, NamesSquattedByAnotherUserAreRefusedWithTheirOwner)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to plant files of another user";
    }
    EchoListener listener;
    const std::string nobody = IPCEndpoint::userText(65534);
    int planted = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, socketPath("sock").c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(::bind(planted, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(planted);
    ASSERT_EQ(::lchown(socketPath("sock").c_str(), 65534, 65534), 0);
    std::unique_ptr<IPCServer> sock(IPCServer::newInstance("sock", listener, -1));
    EXPECT_EQ(connectFailure(*sock), NLS::format(BUNDLE, "ZRKNV0187_IPC_NAME_SQUATTED", "sock", socketPath("sock"),
                                                 "it belongs to " + nobody));

    dir.write("lck.lock", "");
    ASSERT_EQ(::chown(dir.file("lck.lock").c_str(), 65534, 65534), 0);
    std::unique_ptr<IPCServer> lck(IPCServer::newInstance("lck", listener, -1));
    EXPECT_EQ(connectFailure(*lck), NLS::format(BUNDLE, "ZRKNV0187_IPC_NAME_SQUATTED", "lck", dir.file("lck.lock"),
                                                "it belongs to " + nobody));
    ASSERT_EQ(::mkfifo(dir.file("fifo.lock").c_str(), 0666), 0);
    std::unique_ptr<IPCServer> fifo(IPCServer::newInstance("fifo", listener, -1));
    EXPECT_NE(connectFailure(*fifo).find("ZRKNV0187"), std::string::npos);

    // Root's own directory must be root's; the directory of a shared $VELBRIX_IPC_DIR may not be.
    ::unsetenv("VELBRIX_IPC_DIR");
    std::string squatted = dir.file("squatted");
    ASSERT_EQ(::mkdir(squatted.c_str(), 0755), 0);
    ASSERT_EQ(::chown(squatted.c_str(), 65534, 65534), 0);
    std::string reason;
    EXPECT_EQ(IPCEndpoint::prepareDirectory(squatted, reason), EPERM);
    EXPECT_EQ(reason, "owned by " + nobody + ", not by " + IPCEndpoint::userText(0));
    ASSERT_EQ(::symlink(dir.path().c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(IPCEndpoint::prepareDirectory(dir.file("link"), reason), ELOOP);
    EXPECT_EQ(IPCEndpoint::prepareDirectory(dir.file("made"), reason), 0);
    struct stat st;
    ASSERT_EQ(::lstat(dir.file("made").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST_F(IPCServerImplTest, ClosesAConnectionThatSendsNoRequestInTime)
{
    EchoListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("idle", listener, -1));
    server->setIdleLimit(300);
    server->connect();
    RawConnection busy(socketPath("idle"));
    RawConnection silent(socketPath("idle"));
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {   // each request starts the time again
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_EQ(busy.request(IPCMessage(1, "a")).getMessageText(), "echo:a");
    }
    silent.receive(5000);
    EXPECT_TRUE(silent.closed);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    server->disconnect();
}
