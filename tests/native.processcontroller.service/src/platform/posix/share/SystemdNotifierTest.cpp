#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ServiceStatus.h"
#include "SystemdNotifier.h"

TEST(ServiceStatusTest, EachStateBecomesTheNotificationSystemdExpects)
{
    struct {
        unsigned int state, waitHint, win32, specific;
        const char* message;
    } cases[] = {
        {ServiceStatus::START_PENDING, 1000, 0, 0, "STATUS=Starting"},
        {ServiceStatus::RUNNING, 0, 0, 0, "READY=1\nSTATUS=Running"},
        // The wait hint is in milliseconds, the extension in microseconds.
        {ServiceStatus::STOP_PENDING, 600000, 0, 0, "STOPPING=1\nEXTEND_TIMEOUT_USEC=600000000\nSTATUS=Stopping"},
        {ServiceStatus::STOPPED, 0, 0, 0, "STATUS=Stopped"},
        {ServiceStatus::STOPPED, 0, ServiceStatus::SERVICE_SPECIFIC_ERROR, 75, "STATUS=Stopped, exit status 75"},
    };
    for (const auto& c : cases) {
        ServiceStatus s;
        s.currentState = c.state;
        s.waitHint = c.waitHint;
        s.win32ExitCode = c.win32;
        s.serviceSpecificExitCode = c.specific;
        EXPECT_EQ(c.message, SystemdNotifier::statusMessage(s));
    }
}

// systemd usually hands out a path; an abstract name (after "@") must not get a path's zero.
TEST(SystemdNotifierTest, SendsToAnAbstractSocketAndRefusesARelativeName)
{
    std::string name = "ostara-notify-test-" + std::to_string(getpid());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    name.copy(address.sun_path + 1, name.size());
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address),
                      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())));
    SystemdNotifier notifier("@" + name);
    EXPECT_TRUE(notifier.notify("READY=1"));
    char buffer[64] = {};
    timeval limit = {10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    close(fd);
    EXPECT_EQ("READY=1", std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0));

    EXPECT_FALSE(SystemdNotifier("notify.sock").notify("READY=1"));

    // A manager that stops reading: once its queue is full a notification gives up within its
    // bound instead of blocking the controller that sends it.
    int full = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(0, bind(full, reinterpret_cast<sockaddr*>(&address),
                      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())));
    int sent = 0;
    auto begun = std::chrono::steady_clock::now();
    while (notifier.notify("STATUS=filling") && sent < 100000) {
        ++sent;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    close(full);
    EXPECT_LT(sent, 100000);
    EXPECT_LT(seconds, 30.0) << "each send after the queue is full waits at most its bound";
    EXPECT_TRUE(SystemdNotifier("").notify("READY=1")) << "without a socket there is nothing to fail";
}
