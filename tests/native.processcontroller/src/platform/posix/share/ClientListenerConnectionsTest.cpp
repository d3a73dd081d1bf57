#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ClientListener.h"
#include "ControllerTestSupport.h"
#include "IPCClient.h"
#include "IPCMessage.h"

namespace {

// Raw socket connections to the controller's own pipe beside ordinary requests.
class ClientListenerConnectionsTest : public ControllerTest
{
protected:
    IPCMessage send(const std::string& text)
    {
        std::unique_ptr<IPCClient> client(IPCClient::newInstance("A"));
        client->connect();
        IPCMessage reply = client->sendMessage(IPCMessage(7, text), 30);
        client->disconnect();
        return reply;
    }
};

} // namespace

// Clients that connect and never ask cost the controller no more than its limit of threads;
// one over the limit is told so at once, and the pipe serves again once they leave.
TEST_F(ClientListenerConnectionsTest, ThousandsOfSilentConnectionsHoldAtMostTheLimitOfThreads)
{
    ProcessController& c = make({agent()});
    ASSERT_EQ(c.initialize(), 0);
    auto threads = [] {
        std::error_code ignored;
        auto it = std::filesystem::directory_iterator("/proc/self/task", ignored);
        return std::distance(it, std::filesystem::directory_iterator());
    };
    const long before = threads();
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, (ipc.path() + "/A").c_str(), sizeof a.sun_path - 1);
    std::vector<int> silent;
    long most = before;
    for (int i = 0; i < 3000; ++i) {
        int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << i << ": " << std::strerror(errno);
        silent.push_back(s);
        if (i % 100 == 0) {
            most = std::max<long>(most, threads());
        }
    }
    most = std::max<long>(most, threads());
    EXPECT_LE(most, before + ClientListener::MAX_ADMIN_CONNECTIONS + 1);
    IPCMessage refusal = send("GETS");
    EXPECT_EQ(refusal.getMessageStatus(), IPCMessage::STATUS_EXCEPTION);
    EXPECT_NE(refusal.getMessageText().find("ZRKNV0090"), std::string::npos) << refusal.getMessageText();
    for (int s : silent) {
        ::close(s);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    IPCMessage status;
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = send("GETS");
    } while (status.getMessageStatus() != IPCMessage::STATUS_SUCCESS && std::chrono::steady_clock::now() < deadline);
    EXPECT_NE(status.getMessageText().find("processControllerStatus="), std::string::npos) << status.getMessageText();
    EXPECT_EQ(c.shutdown(), 0);
}
