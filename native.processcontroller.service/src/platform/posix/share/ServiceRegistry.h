// Services registered with systemd: -install writes the unit <unit dir>/<name>.service (unit
// dir $VELBRIX_SYSTEMD_UNIT_DIR, default /etc/systemd/system) and the link in
// multi-user.target.wants that "systemctl enable" makes, so the service starts with the system.
// The unit is Type=notify with KillMode=mixed (a stop signals only the service program, which
// stops the application itself) and Restart=on-abnormal (systemd restarts after a signal or a
// time-out; exit codes are the controller's restart budget's). -uninstall removes only a unit
// this installer wrote, and its link.
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
    // False: a password is not needed (systemd starts the service as User= itself).
    static bool takesPassword();
    // The words as one ExecStart= value that systemd splits back into exactly those words.
    static std::string commandLine(const std::vector<std::string>& words);
    // Writes and enables the unit. MANAGER_UNAVAILABLE (errorCode: errno) when the unit
    // directory cannot be written; NOT_CREATED when the unit exists or a value cannot be put in
    // one. reason says why.
    static Outcome create(const Definition& definition, std::string& reason, int& errorCode);
    // Removes the unit and its link; message is the line to print for any outcome.
    static Outcome remove(const std::string& name, std::string& message);

private:
    ServiceRegistry();
};

#endif
