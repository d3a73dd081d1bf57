// Shared by the IPC tests: a private IPC directory per test, simple listeners, a raw
// SOCK_SEQPACKET connection for sending what no IPCClient would, and child processes of the
// test binary in a role. Every wait has a deadline.
#ifndef OSTARA_TEST_IPCTESTSUPPORT_H
#define OSTARA_TEST_IPCTESTSUPPORT_H

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IPCListener.h"
#include "IPCMessage.h"
#include "KorrException.h"
#include "TempDir.h"
#include "TestChild.h"

extern char** environ;

namespace ipctest {

const char* const BUNDLE = "com.quillon.velbrix.nativ.common.ZRKNVMessages";

// Each test gets its own IPC directory, so tests can run in parallel without meeting.
class IPCDirTest : public ::testing::Test
{
protected:
    void SetUp() override { ::setenv("VELBRIX_IPC_DIR", dir.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("VELBRIX_IPC_DIR"); }
    std::string socketPath(const std::string& name) const { return dir.file(name); }
    TempDir dir;
};

// Answers every request with its own id and the text "echo:" + text.
class EchoListener : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& request) override
    {
        if (request.getMessageText() == "throw") {
            throw KorrException("listener refused");
        }
        return IPCMessage(request.getMessageId(), IPCMessage::STATUS_SUCCESS, "echo:" + request.getMessageText());
    }
};

inline std::vector<unsigned char> bytesOf(const IPCMessage& m)
{
    std::vector<unsigned char> b(IPCMessage::MAX_MESSAGE_DATA_LEN);
    int n = 0;
    m.getMessageBytes(b.data(), &n);
    b.resize(static_cast<std::size_t>(n));
    return b;
}

// A connection that sends and receives raw packets.
class RawConnection
{
public:
    explicit RawConnection(const std::string& path) : fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0))
    {
        sockaddr_un a;
        std::memset(&a, 0, sizeof a);
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        connectError = connected ? 0 : errno;
    }
    ~RawConnection() { ::close(fd); }
    bool send(const std::vector<unsigned char>& b)
    {
        return ::send(fd, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
    }
    // One packet, or an empty vector with closed set when the other end has gone.
    // Fails the test when nothing arrives within the deadline.
    std::vector<unsigned char> receive(int deadlineMs = 10000)
    {
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, deadlineMs) != 1) {
            ADD_FAILURE() << "no packet within " << deadlineMs << " ms";
            return {};
        }
        std::vector<unsigned char> b(70000);
        ssize_t n = ::recv(fd, b.data(), b.size(), 0);
        closed = n <= 0;
        b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return b;
    }
    IPCMessage request(const IPCMessage& m)
    {
        send(bytesOf(m));
        std::vector<unsigned char> r = receive();
        return IPCMessage(r.data(), static_cast<unsigned int>(r.size()));
    }
    int fd;
    bool connected = false;
    int connectError = 0;
    bool closed = false;
};

template <class Condition>
bool waitUntil(Condition condition, int deadlineMs = 10000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A child process running the test binary in a role, its standard output on a pipe.
class Child
{
public:
    Child(const std::string& role, const std::vector<std::string>& extraEnv, const std::vector<std::string>& args = {})
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe2";
            return;
        }
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            if (std::strncmp(*e, "OSTARA_TEST_CHILD=", 18) != 0) {
                env.push_back(*e);
            }
        }
        env.push_back("OSTARA_TEST_CHILD=" + role);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> envp;
        for (auto& s : env) {
            envp.push_back(&s[0]);
        }
        envp.push_back(nullptr);
        std::string self = TestChild::selfPath();
        std::vector<std::string> argStrings = {self};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& s : argStrings) {
            argv.push_back(&s[0]);
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        output = out[0];
        if (rc != 0) {
            pid = -1;
            ADD_FAILURE() << "posix_spawn: " << std::strerror(rc);
        }
    }
    ~Child()
    {
        if (pid > 0 && status < 0) {
            ::kill(pid, SIGKILL);
            wait(10000);
        }
        ::close(output);
    }
    // Reads the child's output until it holds text; false at the deadline or end of output.
    bool waitForOutput(const std::string& text, int deadlineMs = 20000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (read.find(text) == std::string::npos) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
            pollfd p = {output, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) != 1) {
                return false;
            }
            char b[256];
            ssize_t n = ::read(output, b, sizeof b);
            if (n <= 0) {
                return read.find(text) != std::string::npos;
            }
            read.append(b, static_cast<std::size_t>(n));
        }
        return true;
    }
    // The raw wait status, or -1 when the child has not ended by the deadline.
    int wait(int deadlineMs = 20000)
    {
        if (status >= 0 || pid <= 0) {
            return status;
        }
        waitUntil([this] { return ::waitpid(pid, &status, WNOHANG) == pid; }, deadlineMs);
        return status;
    }
    void kill(int signal) { ::kill(pid, signal); }
    std::string allOutput()
    {
        waitForOutput("\x01never", 2000);
        return read;
    }

    pid_t pid = -1;
    int output = -1;
    int status = -1;
    std::string read;
};

} // namespace ipctest

#endif
