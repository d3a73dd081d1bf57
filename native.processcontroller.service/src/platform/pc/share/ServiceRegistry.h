// Services registered with the Windows service control manager: -install creates an
// own-process service started automatically, with the registered command line and a
// description; -uninstall deletes only a service whose command line runs this program.
// Names and values the manager cannot take are refused before it is called.
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
    // True: the account's password goes to the manager.
    static bool takesPassword();
    // The words as one command line that the C runtime splits back into exactly those words;
    // a word already wholly in double quotes is taken as it is.
    static std::string commandLine(const std::vector<std::string>& words);
    // A reason why the manager cannot take the definition (a name with "/" or "\", a control
    // character in a value); empty when it can.
    static std::string refusal(const Definition& definition);
    // Creates the service. MANAGER_UNAVAILABLE (errorCode: the system's) when the manager
    // cannot be opened; NOT_CREATED when it exists or is refused; DESCRIPTION_FAILED when only
    // the description could not be set. reason says why.
    static Outcome create(const Definition& definition, std::string& reason, int& errorCode);
    // Deletes the service; message is the line to print for any outcome.
    static Outcome remove(const std::string& name, std::string& message);

private:
    ServiceRegistry();
};

#endif
