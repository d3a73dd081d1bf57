#include "AdminCommand.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>
#include <utility>

#include "IPCClient.h"
#include "IPCMessage.h"
#include "IPCNotFoundException.h"
#include "KorrException.h"
#include "KorrUtils.h"
#include "RAS.h"

namespace {

const char* const PROGRAM = "ostaractl";
const long POLL_INTERVAL_MS = 30;

int usageError(std::ostream& err, const std::string& problem)
{
    err << PROGRAM << ": " << problem << "\n"
        << "Try '" << PROGRAM << " --help' for more information.\n";
    return AdminCommand::EXIT_USAGE;
}

// Reply text as it may go to the operator's terminal: control characters other than line
// breaks and tabs (escape sequences that could rewrite the screen or the window title) are
// shown as \xHH, so every byte stays visible as evidence and none acts on the terminal.
std::string visible(const std::string& text)
{
    std::string shown;
    shown.reserve(text.size());
    for (unsigned char c : text) {
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
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

std::string trim(const std::string& text)
{
    std::string::size_type first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Every level of a trace specification ("+"? ENTRY (":" ENTRY)*, ENTRY = CLASSES "=" LEVEL,
// "=" LEVEL or CLASSES) is one the controller knows; it would read any other as "info".
bool levelsKnown(const std::string& spec)
{
    std::string rest = !spec.empty() && spec[0] == '+' ? spec.substr(1) : spec;
    std::string::size_type start = 0;
    while (start <= rest.size()) {
        std::string::size_type colon = rest.find(':', start);
        std::string entry = rest.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        std::string::size_type equals = entry.find('=');
        if (equals != std::string::npos && !RAS::isLevelName(entry.substr(equals + 1))) {
            return false;
        }
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    return true;
}

// What the request thread and the waiting caller share; the thread may outlive the caller.
struct Exchange
{
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int code = AdminCommand::EXIT_FAILED;   // EXIT_OK with reply, or the failure's code
    std::string failure;
    IPCMessage reply;
};

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
           "  --timeout SECONDS     give up when there is no answer by then (default: 10, for stop 40)\n"
           "  -h, --help            show this help and exit\n"
           "  --                    end of options (for a TEXT that begins with -)\n"
           "\n"
           "Exit status:\n"
           "  0  the request succeeded (reply status 0, or 3 for a warning)\n"
           "  1  the request failed (reply status 1 or 2) or the connection failed\n"
           "  2  the command line is wrong\n"
           "  3  nothing serves APPID\n"
           "  4  the controller did not answer in time (--timeout)\n";
}

std::string AdminCommand::traceRequest(const std::string& spec)
{
    std::string::size_type equals = spec.rfind('=');
    if (equals == std::string::npos || equals + 1 == spec.size() || spec.find_first_of("<>") != std::string::npos ||
        !levelsKnown(spec)) {
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
            out << visible(entry.first) << "=" << visible(entry.second) << "\n";
        }
        return;
    }
    out << "{";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out << (i ? "," : "") << jsonString(trim(entries[i].first)) << ":" << jsonString(trim(entries[i].second));
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
            out << visible(text) << "\n";
        }
        return EXIT_OK;
    case IPCMessage::STATUS_WARNING:
        if (!text.empty()) {
            err << visible(text) << "\n";
        }
        return EXIT_OK;
    default:
        err << (text.empty() ? std::string(PROGRAM) + ": the request failed with status " +
                                   std::to_string(reply.getMessageStatus())
                             : visible(text))
            << "\n";
        return EXIT_FAILED;
    }
}

// The request goes out on a thread of its own, so that a controller that never answers (or a
// connection that hangs) cannot hold the caller past the deadline. A thread left waiting keeps
// its share of the exchange alive; ostaractl ends the process at once after a time-out.
int AdminCommand::exchange(const std::string& appId, const std::string& user, const std::string& request,
                           int timeoutSeconds,
                           IPCMessage& reply, std::ostream& err)
{
    auto shared = std::make_shared<Exchange>();
    std::thread worker([shared, appId, user, request]() {
        int code = EXIT_FAILED;
        std::string failure;
        IPCMessage answer;
        try {
            std::unique_ptr<IPCClient> client(user.empty() ? IPCClient::newInstance(appId)
                                                           : IPCClient::newInstance(appId, user));
            client->connect();
            try {
                answer = client->sendMessage(IPCMessage(1, request), POLL_INTERVAL_MS);
            } catch (const KorrException&) {
                client->disconnect();
                throw;
            }
            client->disconnect();
            code = EXIT_OK;
        } catch (const IPCNotFoundException& e) {
            code = EXIT_NOT_SERVED;
            failure = e.getMessage();
        } catch (const KorrException& e) {
            failure = e.getMessage();
        }
        std::lock_guard<std::mutex> hold(shared->lock);
        shared->code = code;
        shared->failure = failure;
        shared->reply = answer;
        shared->finished = true;
        shared->done.notify_all();
    });
    std::unique_lock<std::mutex> hold(shared->lock);
    if (!shared->done.wait_for(hold, std::chrono::seconds(timeoutSeconds), [&] { return shared->finished; })) {
        hold.unlock();
        worker.detach();
        err << PROGRAM << ": " << appId << " did not answer within " << timeoutSeconds << " seconds\n";
        return EXIT_TIMEOUT;
    }
    hold.unlock();
    worker.join();
    if (shared->code != EXIT_OK) {
        err << shared->failure << "\n";
        return shared->code;
    }
    reply = shared->reply;
    return EXIT_OK;
}

int AdminCommand::run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> words;   // APPID, the command and its operands
    std::string ipcDir;
    std::string user;
    int timeoutSeconds = 0;
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
        } else if (a == "--timeout" || a.compare(0, 10, "--timeout=") == 0) {
            std::string value = a == "--timeout" ? (i + 1 < args.size() ? args[++i] : std::string()) : a.substr(10);
            char* end = nullptr;
            long seconds = value.empty() ? 0 : std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || seconds <= 0 || seconds > 86400) {
                return usageError(err, "option '--timeout' needs a number of seconds from 1 to 86400");
            }
            timeoutSeconds = static_cast<int>(seconds);
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
            return usageError(err, "'trace' needs CLASSES=LEVEL without '<' or '>', LEVEL one of all, verbose, "
                                   "moderate, flow, config, info, warning, error, severe, fatal or off, for example "
                                   "com.quillon.velbrix=all");
        }
    } else {
        return usageError(err, "unknown command '" + command + "'");
    }
    if (request.size() > IPCMessage::MAX_MESSAGE_TEXT_LEN) {
        return usageError(err, "the request is longer than " + std::to_string(IPCMessage::MAX_MESSAGE_TEXT_LEN) +
                                   " bytes");
    }
    if (timeoutSeconds == 0) {
        timeoutSeconds = command == "stop" ? DEFAULT_STOP_TIMEOUT : DEFAULT_TIMEOUT;
    }
    if (!ipcDir.empty()) {
        try {
            KorrUtils::setenv("VELBRIX_IPC_DIR", ipcDir);
        } catch (const KorrException& e) {
            err << e.getMessage() << "\n";
            return EXIT_FAILED;
        }
    }
    IPCMessage reply;
    int code = exchange(appId, user, request, timeoutSeconds, reply, err);
    return code == EXIT_OK ? report(reply, command == "status", json, out, err) : code;
}
