// The logic of the operator's tool ostaractl: reads its arguments, sends one request to
// the IPC server of an application identifier, prints the reply and picks the exit code.
#ifndef OSTARA_ADMINCOMMAND_H
#define OSTARA_ADMINCOMMAND_H

#include <iosfwd>
#include <string>
#include <vector>

class IPCMessage;

class AdminCommand
{
public:
    static const int EXIT_OK = 0;         // reply status 0 (success) or 3 (warning)
    static const int EXIT_FAILED = 1;     // reply status 1 or 2, or the connection failed
    static const int EXIT_USAGE = 2;
    static const int EXIT_NOT_SERVED = 3; // nothing serves the application identifier
    static const int EXIT_TIMEOUT = 4;    // no answer before the deadline (--timeout)

    // Default deadlines in seconds: a stop may take the controller's stop limit (30 s) and a margin.
    static const int DEFAULT_TIMEOUT = 10;
    static const int DEFAULT_STOP_TIMEOUT = 40;

    // args are the command-line arguments after the program name.
    static int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
    static std::string usage();

    // The request that "trace CLASSES=LEVEL" sends; empty when spec is not of that form or names
    // a level the controller does not know.
    static std::string traceRequest(const std::string& spec);
    // Writes a status reply ("key=value,key=value") one pair per line, or as a JSON object.
    // Values are trimmed in JSON.
    static void printStatus(const std::string& text, bool json, std::ostream& out);

private:
    AdminCommand();
    static int report(const IPCMessage& reply, bool status, bool json, std::ostream& out, std::ostream& err);
    static int exchange(const std::string& appId, const std::string& user, const std::string& request,
                        int timeoutSeconds, IPCMessage& reply, std::ostream& err);
};

#endif
