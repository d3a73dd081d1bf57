#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ServiceStatus.h"
#include "ServiceTestSupport.h"
#include "SystemdNotifier.h"
#include "TempDir.h"

namespace {

ServiceStatus statusOf(unsigned int state, unsigned int waitHint, unsigned int win32 = 0, unsigned int specific = 0)
{
    ServiceStatus s;
    s.currentState = state;
    s.waitHint = waitHint;
    s.win32ExitCode = win32;
    s.serviceSpecificExitCode = specific;
    return s;
}

} // namespace

TEST(ServiceStatusTest, EachStateBecomesTheNotificationSystemdExpects)
{
    EXPECT_EQ("STATUS=Starting", statusOf(ServiceStatus::START_PENDING, 1000).notifyMessage());
    EXPECT_EQ("READY=1\nSTATUS=Running", statusOf(ServiceStatus::RUNNING, 0).notifyMessage());
    // The wait hint is in milliseconds, the extension in microseconds.
    EXPECT_EQ("STOPPING=1\nEXTEND_TIMEOUT_USEC=600000000\nSTATUS=Stopping",
              statusOf(ServiceStatus::STOP_PENDING, 600000).notifyMessage());
    EXPECT_EQ("STOPPING=1\nSTATUS=Stopping", statusOf(ServiceStatus::STOP_PENDING, 0).notifyMessage());
    EXPECT_EQ("STATUS=Stopped", statusOf(ServiceStatus::STOPPED, 0).notifyMessage());
    EXPECT_EQ("STATUS=Stopped, exit status 75",
              statusOf(ServiceStatus::STOPPED, 0, ServiceStatus::SERVICE_SPECIFIC_ERROR, 75).notifyMessage());
    EXPECT_EQ("STATUS=State 9", statusOf(9, 0).notifyMessage());
}

TEST(SystemdNotifierTest, SendsOneDatagramToAPathSocket)
{
    TempDir dir;
    NotifySocket socket(dir.file("notify"));
    SystemdNotifier notifier(socket.path());
    ASSERT_TRUE(notifier.notify("READY=1\nSTATUS=Running"));
    EXPECT_EQ("READY=1\nSTATUS=Running", socket.receive(5000));
    ASSERT_TRUE(notifier.notify("STOPPING=1"));
    EXPECT_EQ("STOPPING=1", socket.receive(5000));
}

TEST(SystemdNotifierTest, SendsToAnAbstractSocketNamedWithAnAt)
{
    std::string name = "ostara-notify-test-" + std::to_string(getpid());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::copy(name.begin(), name.end(), address.sun_path + 1);
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), length));

    SystemdNotifier notifier("@" + name);
    EXPECT_TRUE(notifier.notify("READY=1"));
    char buffer[64] = {};
    timeval limit = {5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    close(fd);
    EXPECT_EQ("READY=1", std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0));
}

TEST(SystemdNotifierTest, WithoutASocketNothingIsSentAndNothingFails)
{
    SystemdNotifier notifier("");
    EXPECT_FALSE(notifier.isEnabled());
    EXPECT_TRUE(notifier.notify("READY=1"));
}

TEST(SystemdNotifierTest, ReportsAFailureForARelativeOrMissingSocket)
{
    SystemdNotifier relative("notify.sock");
    errno = 0;
    EXPECT_FALSE(relative.notify("READY=1"));
    EXPECT_EQ(EINVAL, errno);
    TempDir dir;
    SystemdNotifier missing(dir.file("gone"));
    EXPECT_FALSE(missing.notify("READY=1"));
}

TEST(SystemdNotifierTest, TakesTheSocketFromTheEnvironmentAndHidesItFromChildren)
{
    setenv("NOTIFY_SOCKET", "/run/systemd/notify", 1);
    SystemdNotifier* notifier = SystemdNotifier::fromEnvironment();
    EXPECT_EQ("/run/systemd/notify", notifier->getSocketName());
    EXPECT_EQ(nullptr, std::getenv("NOTIFY_SOCKET"));
    delete notifier;
}
