#include "AdminCommand.h"

#include <cstdio>
#include <memory>
#include <ostream>
#include <utility>

#include "IPCClient.h"
#include "IPCMessage.h"
#include "IPCNotFoundException.h"
#include "KorrException.h"
#include "KorrUtils.h"

namespace {

const char* const PROGRAM = "ostaractl";
const long POLL_INTERVAL_MS = 30;

int usageError(std::ostream& err, const std::string& problem)
{
    err << PROGRAM << ": " << problem << "\n"
        << "Try '" << PROGRAM << " --help' for more information.\n";
    return AdminCommand::EXIT_USAGE;
}

std::string jsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                quoted += escaped;
            } else {
                quoted += static_cast<char>(c);
            }
        }
    }
    return quoted + "\"";
}

} // namespace

std::string AdminCommand::usage()
{
    return "Usage: ostaractl [--ipc-dir DIR] [--user NAME] APPID COMMAND [ARGUMENTS]\n"
           "\n"
           "Sends one request to the process controller that serves APPID and prints its reply.\n"
           "\n"
           "Commands:\n"
           "  status [--json]       show the controller's status, one key=value per line\n"
           "                        (--json: as one JSON object)\n"
           "  stop [--immediate]    stop the application in a controlled way; with --immediate\n"
           "                        stop it at once and return when it has stopped\n"
           "  trace CLASSES=LEVEL   change the trace of the controller and the application\n"
           "                        (for example com.quillon.velbrix=all)\n"
           "  wake                  wake a controller that waits before starting the application\n"
           "  send TEXT             send TEXT as a request and print the reply\n"
           "\n"
           "Options:\n"
           "  --ipc-dir DIR         directory of the IPC sockets (default: $VELBRIX_IPC_DIR,\n"
           "                        else /run/velbrix-ipc for root's services and\n"
           "                        /tmp/.velbrix-ipc-UID for those of user UID)\n"
           "  --user NAME           the service runs as user NAME: look for it there and\n"
           "                        trust its server (otherwise only a server run by root or\n"
           "                        by yourself is trusted)\n"
           "  -h, --help            show this help and exit\n"
           "  --                    end of options (for a TEXT that begins with -)\n"
           "\n"
           "Exit status:\n"
           "  0  the request succeeded (reply status 0, or 3 for a warning)\n"
           "  1  the request failed (reply status 1 or 2) or the connection failed\n"
           "  2  the command line is wrong\n"
           "  3  nothing serves APPID\n";
}

std::string AdminCommand::traceRequest(const std::string& spec)
{
    std::string::size_type equals = spec.rfind('=');
    if (equals == std::string::npos || equals + 1 == spec.size() || spec.find_first_of("<>") != std::string::npos) {
        return std::string();
    }
    // The server puts the trace setting together again as CLASSES "=" LEVEL.
    return "TRAC<trace:traceLevel>" + spec.substr(equals + 1) + "</trace:traceLevel><trace:traceClasses>" +
           spec.substr(0, equals) + "</trace:traceClasses>";
}

void AdminCommand::printStatus(const std::string& text, bool json, std::ostream& out)
{
    std::vector<std::pair<std::string, std::string>> entries;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type comma = text.find(',', start);
        std::string piece = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? text.size() : comma + 1;
        std::string::size_type equals = piece.find('=');
        if (equals == std::string::npos && !entries.empty()) {
            entries.back().second += "," + piece;   // a value that holds a comma
        } else if (equals == std::string::npos) {
            entries.emplace_back(piece, std::string());
        } else {
            entries.emplace_back(piece.substr(0, equals), piece.substr(equals + 1));
        }
    }
    if (!json) {
        for (const auto& entry : entries) {
            out << entry.first << "=" << entry.second << "\n";
        }
        return;
    }
    out << "{";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out << (i ? "," : "") << jsonString(entries[i].first) << ":" << jsonString(entries[i].second);
    }
    out << "}\n";
}

int AdminCommand::report(const IPCMessage& reply, bool status, bool json, std::ostream& out, std::ostream& err)
{
    const std::string& text = reply.getMessageText();
    switch (reply.getMessageStatus()) {
    case IPCMessage::STATUS_SUCCESS:
        if (status) {
            printStatus(text, json, out);
        } else if (!text.empty()) {
            out << text << "\n";
        }
        return EXIT_OK;
    case IPCMessage::STATUS_WARNING:
        if (!text.empty()) {
            err << text << "\n";
        }
        return EXIT_OK;
    default:
        err << (text.empty() ? std::string(PROGRAM) + ": the request failed with status " +
                                   std::to_string(reply.getMessageStatus())
                             : text)
            << "\n";
        return EXIT_FAILED;
    }
}

int AdminCommand::run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> words;   // APPID, the command and its operands
    std::string ipcDir;
    std::string user;
    bool json = false;
    bool immediate = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // A text or trace specification may itself begin with "-".
        bool operand = optionsEnded || (words.size() == 2 && (words[1] == "send" || words[1] == "trace"));
        if (a == "--" && !optionsEnded) {
            optionsEnded = true;
        } else if (operand || a.size() < 2 || a[0] != '-') {
            words.push_back(a);
        } else if (a == "--help" || a == "-h") {
            out << usage();
            return EXIT_OK;
        } else if (a == "--ipc-dir" || a.compare(0, 10, "--ipc-dir=") == 0) {
            ipcDir = a == "--ipc-dir" ? (i + 1 < args.size() ? args[++i] : std::string()) : a.substr(10);
            if (ipcDir.empty()) {
                return usageError(err, "option '--ipc-dir' needs a directory");
            }
        } else if (a == "--user" || a.compare(0, 7, "--user=") == 0) {
            user = a == "--user" ? (i + 1 < args.size() ? args[++i] : std::string()) : a.substr(7);
            if (user.empty()) {
                return usageError(err, "option '--user' needs a user name");
            }
        } else if (a == "--json" && words.size() == 2 && words[1] == "status") {
            json = true;
        } else if (a == "--immediate" && words.size() == 2 && words[1] == "stop") {
            immediate = true;
        } else {
            return usageError(err, "unknown option '" + a + "'");
        }
    }
    if (words.empty()) {
        return usageError(err, "missing APPID");
    }
    if (words.size() == 1) {
        return usageError(err, "missing command");
    }
    const std::string& appId = words[0];
    const std::string& command = words[1];
    std::size_t operands = words.size() - 2;
    std::string request;
    if (command == "status" || command == "stop" || command == "wake") {
        if (operands != 0) {
            return usageError(err, "'" + command + "' takes no argument '" + words[2] + "'");
        }
        request = command == "status" ? "GETS" : command == "wake" ? "STAG" : immediate ? "STOPI" : "STOPC";
    } else if (command == "trace" || command == "send") {
        if (operands != 1) {
            return usageError(err, "'" + command + "' takes exactly one argument");
        }
        request = command == "send" ? words[2] : traceRequest(words[2]);
        if (request.empty() && command == "trace") {
            return usageError(err, "'trace' needs CLASSES=LEVEL without '<' or '>', for example com.quillon.velbrix=all");
        }
    } else {
        return usageError(err, "unknown command '" + command + "'");
    }
    if (request.size() > IPCMessage::MAX_MESSAGE_TEXT_LEN) {
        return usageError(err, "the request is longer than " + std::to_string(IPCMessage::MAX_MESSAGE_TEXT_LEN) +
                                   " bytes");
    }
    try {
        if (!ipcDir.empty()) {
            KorrUtils::setenv("VELBRIX_IPC_DIR", ipcDir);
        }
        std::unique_ptr<IPCClient> client(user.empty() ? IPCClient::newInstance(appId)
                                                       : IPCClient::newInstance(appId, user));
        client->connect();
        IPCMessage reply;
        try {
            reply = client->sendMessage(IPCMessage(1, request), POLL_INTERVAL_MS);
        } catch (const KorrException&) {
            client->disconnect();
            throw;
        }
        client->disconnect();
        return report(reply, command == "status", json, out, err);
    } catch (const IPCNotFoundException& e) {
        err << e.getMessage() << "\n";
        return EXIT_NOT_SERVED;
    } catch (const KorrException& e) {
        err << e.getMessage() << "\n";
        return EXIT_FAILED;
    }
}
