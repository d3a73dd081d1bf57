// Sends notifications to systemd as sd_notify does: one datagram to the Unix socket named by
// NOTIFY_SOCKET, a path or, after "@", a name in the abstract namespace. Without a socket
// name nothing is sent and every notification succeeds.
#ifndef OSTARAPCSERVICE_SYSTEMDNOTIFIER_H
#define OSTARAPCSERVICE_SYSTEMDNOTIFIER_H

#include <string>

class ServiceStatus;

class SystemdNotifier
{
public:
    // Takes the socket name from NOTIFY_SOCKET and removes the variable from the environment,
    // so that the supervised application, which is not the service's main process, does not
    // inherit it.
    static SystemdNotifier* fromEnvironment();

    // The notification systemd understands for a status: READY=1 when running, STOPPING=1 and
    // EXTEND_TIMEOUT_USEC= (the wait hint) when stopping, and always STATUS= in words: the
    // controller's own description once it has given one, until the service has stopped.
    static std::string statusMessage(const ServiceStatus& status);

    explicit SystemdNotifier(const std::string& socketName);
    virtual ~SystemdNotifier();

    bool isEnabled() const { return !socketName.empty(); }
    const std::string& getSocketName() const { return socketName; }
    // False, with errno set, when the datagram could not be sent (EAGAIN after about a second
    // when systemd's queue stays full); safe from any thread.
    bool notify(const std::string& message);

private:
    SystemdNotifier(const SystemdNotifier&);
    SystemdNotifier& operator=(const SystemdNotifier&);

    std::string socketName;
    int fd;   // -1 until the first notification
};

#endif
