// "ostarapcservice -install OPTIONS" on systemd: writes the unit <unit dir>/<name>.service
// (unit dir $VELBRIX_SYSTEMD_UNIT_DIR, default /etc/systemd/system) and the link in
// multi-user.target.wants that "systemctl enable" makes, so the service starts with the system.
// The unit is Type=notify with KillMode=mixed (a stop signals only the service program, which
// stops the application itself) and Restart=on-abnormal (systemd restarts after a signal or a
// time-out; exit codes are the controller's restart budget's). Result codes: 0 installed, -1 no
// name, -2 name over 256 characters, -3 display name over 256, -4 own path unreadable, -5 unit
// directory not writable, -6 unit not created (it exists, or a value cannot be written into a
// unit), -7 an unknown option, a log level that is not one, or no program after "-pcOptions=".
// "-uninstall -serviceName=NAME" removes that unit and its link again, and nothing else.
#ifndef OSTARAPCSERVICE_SERVICEINSTALLER_H
#define OSTARAPCSERVICE_SERVICEINSTALLER_H

#include <string>

// argc and argv are the arguments after "-install". Prints the outcome as one line (errors on
// standard error, success on standard output) and returns the result code.
int install(int argc, char** argv);
// argc and argv are the arguments after "-uninstall". Result codes: 0 removed, -1 no name,
// -5 not removed, -7 an unknown option, -8 no such unit, -9 a unit that -install did not write.
int uninstall(int argc, char** argv);

const int INSTALL_USAGE = -7;
const int UNINSTALL_NOT_INSTALLED = -8;
const int UNINSTALL_NOT_OURS = -9;
// text unchanged when empty, without blanks, or already a double-quoted whole; else in quotes.
std::string quoteIfNeeded(const std::string& text);

#endif
