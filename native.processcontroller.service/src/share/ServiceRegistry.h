// Services registered with the platform's service manager: -install registers this program
// to start with the system (Windows: an own-process service with CreateServiceA; Linux: a
// systemd unit and its enablement link); -uninstall removes only what this installer made.
#ifndef OSTARAPCSERVICE_SERVICEREGISTRY_H
#define OSTARAPCSERVICE_SERVICEREGISTRY_H

#include <string>
#include <vector>

class ServiceRegistry
{
public:
    struct Definition
    {
        std::string name;
        std::string displayName;
        std::string description;   // empty: none
        std::string user;          // empty: the manager's default account
        std::string password;
        std::string commandLine;   // as commandLine() made it
    };
    enum Outcome { DONE, MANAGER_UNAVAILABLE, NOT_CREATED, DESCRIPTION_FAILED, NOT_INSTALLED, NOT_OURS, FAILED };

    // The full path of this program; empty with reason set when it cannot be read.
    static std::string programPath(std::string& reason);
    // True when the account's password goes to the manager (Windows); systemd starts the
    // service as User= itself and needs none.
    static bool takesPassword();
    // The words as one command line that the manager splits back into exactly those words.
    static std::string commandLine(const std::vector<std::string>& words);
    // Registers the service. MANAGER_UNAVAILABLE (errorCode: the system's) when the manager
    // cannot be reached; NOT_CREATED when the service exists or a name or value cannot be put
    // in its definition; DESCRIPTION_FAILED when only the description could not be set.
    // reason says why.
    static Outcome create(const Definition& definition, std::string& reason, int& errorCode);
    // Removes the service; message is the line to print for any outcome.
    static Outcome remove(const std::string& name, std::string& message);

private:
    ServiceRegistry();
};

#endif
