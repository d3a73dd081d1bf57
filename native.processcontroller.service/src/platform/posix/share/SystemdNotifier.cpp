#include "SystemdNotifier.h"

#include "ServiceStatus.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::mutex openLock;

// How long a notification waits for room when systemd's queue is full: it is sent under the
// controller's monitor, so a manager that stopped reading must not hold the controller.
const int SEND_LIMIT_MS = 1000;

} // namespace

SystemdNotifier* SystemdNotifier::fromEnvironment()
{
    const char* name = std::getenv("NOTIFY_SOCKET");
    std::string socketName = name ? name : "";
    ::unsetenv("NOTIFY_SOCKET");
    return new SystemdNotifier(socketName);
}

SystemdNotifier::SystemdNotifier(const std::string& name) : socketName(name), fd(-1) {}

SystemdNotifier::~SystemdNotifier()
{
    if (fd >= 0) {
        ::close(fd);
    }
}

bool SystemdNotifier::notify(const std::string& message)
{
    if (socketName.empty()) {
        return true;
    }
    struct sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // Only absolute paths and abstract names are accepted, as sd_notify does.
    if ((socketName[0] != '/' && socketName[0] != '@') || socketName.size() > sizeof address.sun_path) {
        errno = EINVAL;
        return false;
    }
    std::memcpy(address.sun_path, socketName.data(), socketName.size());
    socklen_t length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + socketName.size());
    if (socketName[0] == '@') {
        address.sun_path[0] = '\0';
    } else if (socketName.size() < sizeof address.sun_path) {
        length += 1;   // the terminating zero of a path
    }
    int socket;
    {
        std::lock_guard<std::mutex> hold(openLock);
        if (fd < 0) {
            fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        }
        socket = fd;
    }
    if (socket < 0) {
        return false;
    }
    // A full queue is waited on in short steps up to the limit; then the message is given up
    // (errno EAGAIN). Polling says nothing here: the queue is the receiver's, not this socket's.
    ssize_t sent;
    int waitedMs = 0;
    for (;;) {
        sent = ::sendto(socket, message.data(), message.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const struct sockaddr*>(&address), length);
        if (sent >= 0 || (errno != EINTR && (errno != EAGAIN || waitedMs >= SEND_LIMIT_MS))) {
            break;
        }
        if (errno == EAGAIN) {
            ::poll(nullptr, 0, 10);
            waitedMs += 10;
        }
    }
    return sent == static_cast<ssize_t>(message.size());
}

std::string SystemdNotifier::statusMessage(const ServiceStatus& status)
{
    std::string message;
    if (status.currentState == ServiceStatus::RUNNING) {
        message += "READY=1\n";
    } else if (status.currentState == ServiceStatus::STOP_PENDING) {
        message += "STOPPING=1\n";
        if (status.waitHint > 0) {
            unsigned long long microseconds = static_cast<unsigned long long>(status.waitHint) * 1000;
            message += "EXTEND_TIMEOUT_USEC=" + std::to_string(microseconds) + "\n";
        }
    }
    bool described = status.currentState != ServiceStatus::STOPPED && !status.detail.empty();
    message += "STATUS=" + (described ? status.detail : ServiceStatus::stateText(status.currentState));
    if (status.win32ExitCode == ServiceStatus::SERVICE_SPECIFIC_ERROR) {
        message += ", exit status " + std::to_string(status.serviceSpecificExitCode);
    } else if (status.win32ExitCode != 0) {
        message += ", error " + std::to_string(status.win32ExitCode);
    }
    return message;
}
