#include <poll.h>
#include <pwd.h>
#include <grp.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "AdminCommand.h"
#include "IPCServer.h"
#include "IPCTestSupport.h"

using namespace ipctest;

namespace {

class StatusListener : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& request) override
    {
        return IPCMessage(-1, 0, request.getMessageText() == "GETS" ? "a=1,b=2" : "");
    }
};

// Runs the staged program with the test's environment; returns its exit status.
int ostaractl(const std::vector<std::string>& args, std::string& output, bool withProductRoot = true)
{
    std::string command = std::string(withProductRoot ? "" : "env -u ZRK_PROD -u KORR_PROD ") + OSTARA_BIN_DIR + "/ostaractl";
    for (const auto& a : args) {
        command += " '" + a + "'";
    }
    command += " 2>&1";
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        return -1;
    }
    char b[512];
    output.clear();
    while (std::fgets(b, sizeof b, p)) {
        output += b;
    }
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class OstaractlProcessTest : public IPCDirTest
{
};

} // namespace

TEST_F(OstaractlProcessTest, TheInstalledProgramTalksToAServerAndFindsItsCatalogues)
{
    StatusListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("APP", listener, -1));
    server->connect();
    std::string output;
    EXPECT_EQ(ostaractl({"APP", "status"}, output), 0);
    EXPECT_EQ(output, "a=1\nb=2\n");
    EXPECT_EQ(ostaractl({"APP", "wake"}, output), 0);
    EXPECT_EQ(output, "");

    // Without ZRK_PROD the program finds the product root beside its own directory.
    EXPECT_EQ(ostaractl({"NOBODY", "status"}, output, false), 3);
    EXPECT_EQ(output.compare(0, 11, "ZRKNV0066E:"), 0) << output;
    EXPECT_EQ(ostaractl({"--help"}, output), 0);
    EXPECT_EQ(ostaractl({"APP"}, output), 2);
    server->disconnect();
}

// A server of the user nobody that took the name first: accepts two connections and prints
// how many bytes each sent before closing; it answers the second with "impostor".
OSTARA_TEST_CHILD_ROLE(impostorServer)
{
    struct passwd* pw = ::getpwnam("nobody");
    if (!pw || ::setgroups(0, nullptr) != 0 || ::setgid(pw->pw_gid) != 0 || ::setuid(pw->pw_uid) != 0) {
        return 10;
    }
    int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, argv[1], sizeof a.sun_path - 1);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::chmod(argv[1], 0666) != 0 ||
        ::listen(s, 4) != 0) {
        return 11;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (int i = 0; i < 2; ++i) {
        pollfd waiting = {s, POLLIN, 0};
        if (::poll(&waiting, 1, 20000) != 1) {
            return 12;
        }
        int c = ::accept(s, nullptr, nullptr);
        unsigned char b[2048];
        long total = 0;
        for (;;) {
            pollfd ready = {c, POLLIN, 0};
            if (::poll(&ready, 1, 10000) != 1) {
                return 13;
            }
            ssize_t got = ::recv(c, b, sizeof b, 0);
            if (got <= 0) {
                break;
            }
            total += got;
            std::vector<unsigned char> reply = bytesOf(IPCMessage(1, IPCMessage::STATUS_SUCCESS, "impostor"));
            ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        std::printf("connection %d: %ld bytes\n", i, total);
        std::fflush(stdout);
        ::close(c);
    }
    return 0;
}

TEST_F(OstaractlProcessTest, RootTrustsNoServerOfAnotherUserUnlessNamed)
{
    if (::geteuid() != 0 || ::getpwnam("nobody") == nullptr) {
        GTEST_SKIP() << "needs root and the user nobody to plant a server of another user";
    }
    ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);   // a shared directory, as /tmp is
    Child impostor("impostorServer", {}, {socketPath("APP")});
    ASSERT_TRUE(impostor.waitForOutput("ready")) << impostor.allOutput();

    std::string output;
    EXPECT_EQ(ostaractl({"APP", "send", "password=secret"}, output), 1);
    EXPECT_EQ(output.compare(0, 11, "ZRKNV0186E:"), 0) << output;
    EXPECT_NE(output.find("nobody (" + std::to_string(::getpwnam("nobody")->pw_uid) + ")"), std::string::npos) << output;
    EXPECT_TRUE(impostor.waitForOutput("connection 0: 0 bytes")) << impostor.allOutput();

    // Asked for by name, the same server is talked to.
    EXPECT_EQ(ostaractl({"--user", "nobody", "APP", "send", "hello"}, output), 0);
    EXPECT_EQ(output, "impostor\n");
    EXPECT_EQ(impostor.wait(), 0) << impostor.allOutput();
}

namespace {

// A controller that takes a request and never answers it, until released.
class SilentController : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage&) override
    {
        std::unique_lock<std::mutex> hold(lock);
        released.wait_for(hold, std::chrono::seconds(60), [this] { return free; });
        return IPCMessage(-1, 0, "");
    }
    void release()
    {
        std::lock_guard<std::mutex> hold(lock);
        free = true;
        released.notify_all();
    }
    std::mutex lock;
    std::condition_variable released;
    bool free = false;
};

} // namespace

// ostaractl as a process against a controller that never answers: it gives up at its deadline
// with its own exit code and says so.
TEST_F(OstaractlProcessTest, OstaractlGivesUpOnAControllerThatNeverAnswers)
{
    SilentController silent;
    std::unique_ptr<IPCServer> hanging(IPCServer::newInstance("SILENT", silent, -1));
    hanging->connect();
    auto start = std::chrono::steady_clock::now();
    // The outer limit (exit 124) only keeps a hanging ostaractl from holding the test.
    std::string command = "timeout 30 " OSTARA_BIN_DIR "/ostaractl --timeout 1 SILENT status 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        output += buffer;
    }
    int status = pclose(pipe);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    silent.release();
    hanging->disconnect();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == AdminCommand::EXIT_TIMEOUT) << status << " " << output;
    EXPECT_EQ(output, "ostaractl: SILENT did not answer within 1 seconds\n");
    EXPECT_LT(seconds, 20.0);
}
