// "ostarapcservice -install OPTIONS" and "-uninstall -serviceName=NAME": the options, their
// limits and checks and the result codes, the same on every platform; ServiceRegistry does the
// registration with the platform's service manager (a systemd unit, or the Windows service
// control manager). Result codes: 0 installed, -1 no name, -2 name over 256 characters, -3
// display name over 256, -4 own path unreadable, -5 service manager unavailable, -6 service
// not created (it exists, or a value the manager cannot take), -7 an unknown option, a log level
// that is not one, or no program after "-pcOptions=".
#ifndef OSTARAPCSERVICE_SERVICEINSTALLER_H
#define OSTARAPCSERVICE_SERVICEINSTALLER_H

#include <string>

// argc and argv are the arguments after "-install". Prints the outcome as one line (errors on
// standard error, success on standard output) and returns the result code.
int install(int argc, char** argv);
// argc and argv are the arguments after "-uninstall". Result codes: 0 removed, -1 no name,
// -5 not removed, -7 an unknown option, -8 not installed, -9 a unit that -install did not write.
int uninstall(int argc, char** argv);

const int INSTALL_USAGE = -7;
const int UNINSTALL_NOT_INSTALLED = -8;
const int UNINSTALL_NOT_OURS = -9;
// text unchanged when empty, without blanks, or already a double-quoted whole; else in quotes.
std::string quoteIfNeeded(const std::string& text);

#endif
