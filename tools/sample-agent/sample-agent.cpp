// sample-agent: behaves as the application a process controller supervises. It reads the
// Java options the controller passes, serves its own pipe (the ipc.service.name option) and
// answers "STOPI"/"STOPC" (exit 0), "GETA" and "JCOR". Its own options, from the command line
// and then from the file "sample-agent.control" in the working directory (blank-separated):
//   --exit=C1,C2,...   exit code of the first, second, ... start (the last one repeats);
//                      without it the agent runs until it is stopped
//   --after-ms=N       run N milliseconds before exiting with that code (default 0)
//   --stop=MODE        accept (default): reply and exit 0; ignore: reply but keep running;
//                      refuse: reply with status 1; hang: never reply to a stop request
//   --mute             accept pipe connections but never answer anything
//   --no-pipe          serve no pipe at all
//   --flood[=BYTES]    write numbered lines (FloodLines.h) to standard output as fast as it
//                      can; with BYTES, end after that many with the exit code of --exit (0)
//   --grandchild       start a process (sleep) that inherits standard output and outlives
//                      the agent; its process id goes to "sample-agent.grandchild"
// Every start is numbered in "sample-agent.runs" and logged, with its arguments, as one line
// "run=N pid=P args=A1 A2 ..." in "sample-agent.log", both in the working directory.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FloodLines.h"
#include "Grandchild.h"
#include "IPCListener.h"
#include "IPCMessage.h"
#include "IPCServer.h"
#include "KorrException.h"
#include "KorrProcess.h"

namespace {

const std::string SERVICE_OPTION = "-Dcom.quillon.velbrix.ipc.service.name=";

struct Options {
    std::vector<int> exitCodes;
    long afterMs = 0;
    std::string stopMode = "accept";
    bool mute = false;
    bool noPipe = false;
    bool flood = false;
    unsigned long long floodBytes = 0;   // 0: until stopped
    bool grandchild = false;
    std::string serviceName;
};

bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

void applyOption(Options& o, const std::string& arg)
{
    if (startsWith(arg, SERVICE_OPTION)) {
        o.serviceName = arg.substr(SERVICE_OPTION.size());
    } else if (startsWith(arg, "--exit=")) {
        o.exitCodes.clear();
        std::stringstream codes(arg.substr(7));
        std::string code;
        while (std::getline(codes, code, ',')) {
            o.exitCodes.push_back(std::atoi(code.c_str()));
        }
    } else if (startsWith(arg, "--after-ms=")) {
        o.afterMs = std::atol(arg.c_str() + 11);
    } else if (startsWith(arg, "--stop=")) {
        o.stopMode = arg.substr(7);
    } else if (arg == "--mute") {
        o.mute = true;
    } else if (arg == "--no-pipe") {
        o.noPipe = true;
    } else if (arg == "--flood" || startsWith(arg, "--flood=")) {
        o.flood = true;
        o.floodBytes = arg.size() > 8 ? std::strtoull(arg.c_str() + 8, nullptr, 10) : 0;
    } else if (arg == "--grandchild") {
        o.grandchild = true;
    }
}

int nextRun()
{
    int run = 0;
    std::ifstream("sample-agent.runs") >> run;
    std::ofstream("sample-agent.runs", std::ios::trunc) << run + 1 << "\n";
    return run + 1;
}

class Agent : public IPCListener
{
public:
    Agent(const Options& o, int r) : options(o), run(r) {}

    IPCMessage onMessage(const IPCMessage& request) override
    {
        const std::string& text = request.getMessageText();
        bool stopRequest = startsWith(text, "STOPI") || startsWith(text, "STOPC");
        if (options.mute || (stopRequest && options.stopMode == "hang")) {
            hang();
        }
        if (stopRequest) {
            if (options.stopMode == "refuse") {
                return IPCMessage(request.getMessageId(), IPCMessage::STATUS_EXCEPTION, "sample-agent refuses to stop");
            }
            if (options.stopMode != "ignore") {
                finish(0);
            }
            return IPCMessage(request.getMessageId(), IPCMessage::STATUS_SUCCESS, "");
        }
        if (startsWith(text, "GETA")) {
            return IPCMessage(request.getMessageId(), IPCMessage::STATUS_SUCCESS,
                              "sample-agent run=" + std::to_string(run) + " pid=" + std::to_string(KorrProcess::getCurrentProcessId()));
        }
        if (startsWith(text, "JCOR")) {
            std::cout << "sample-agent: diagnostics requested" << std::endl;
            return IPCMessage(request.getMessageId(), IPCMessage::STATUS_SUCCESS, "diagnostics written");
        }
        return IPCMessage(request.getMessageId(), IPCMessage::STATUS_EXCEPTION, "sample-agent: unknown request " + text);
    }

    void finish(int code)
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!done) {
            done = true;
            exitCode = code;
        }
        changed.notify_all();
    }

    // Until `deadline` (or for ever); true when a request or the deadline ended it.
    int waitForEnd(bool timed, std::chrono::steady_clock::time_point deadline, int timedCode)
    {
        std::unique_lock<std::mutex> hold(lock);
        while (!done) {
            if (!timed) {
                changed.wait(hold);
            } else if (changed.wait_until(hold, deadline) == std::cv_status::timeout && !done) {
                done = true;
                exitCode = timedCode;
            }
        }
        return exitCode;
    }

    bool anyHanging() const { return hanging > 0; }

private:
    void hang()
    {
        ++hanging;
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [] { return false; });
    }

    Options options;
    int run;
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    int exitCode = 0;
    std::atomic<int> hanging{0};
};

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == SAMPLE_AGENT_SLEEP_WORD) {
        std::this_thread::sleep_for(std::chrono::hours(1));   // a grandchild, nothing more
        return 0;
    }
    Options options;
    std::string args;
    for (int i = 1; i < argc; ++i) {
        applyOption(options, argv[i]);
        args += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    std::ifstream control("sample-agent.control");
    for (std::string word; control >> word;) {
        applyOption(options, word);
    }
    int run = nextRun();
    std::ofstream("sample-agent.log", std::ios::app)
        << "run=" << run << " pid=" << KorrProcess::getCurrentProcessId() << " args=" << args << std::endl;
    std::cout << "sample-agent: run " << run << " started" << std::endl;
    std::cerr << "sample-agent: run " << run << " writes to standard error" << std::endl;

    Agent agent(options, run);
    IPCServer* server = nullptr;
    if (!options.serviceName.empty() && !options.noPipe) {
        server = IPCServer::newInstance(options.serviceName, agent, -1);
        try {
            server->connect();
        } catch (const KorrException& e) {
            std::cerr << "sample-agent: " << e.getMessage() << std::endl;
            return 1;
        }
    }

    bool timed = !options.exitCodes.empty();
    int timedCode = 0;
    if (timed) {
        std::size_t index = static_cast<std::size_t>(run - 1);
        timedCode = options.exitCodes[index < options.exitCodes.size() ? index : options.exitCodes.size() - 1];
    }
    if (options.grandchild) {
        long child = startGrandchild();
        if (child > 0) {
            std::ofstream("sample-agent.grandchild", std::ios::trunc) << child << "\n";
        }
    }
    std::thread flooder;
    if (options.flood) {
        std::cout.flush();
        flooder = std::thread([&agent, &options, timedCode] {
            std::vector<char> buffer(256 * 1024);
            FloodLines lines;
            unsigned long long left = options.floodBytes;
            for (;;) {
                std::size_t used = lines.fill(buffer.data(), buffer.size());
                if (options.floodBytes > 0 && used > left) {
                    used = static_cast<std::size_t>(left);
                }
                for (std::size_t at = 0; at < used;) {
                    ssize_t n = write(1, buffer.data() + at, used - at);
                    if (n <= 0) {
                        agent.finish(timedCode);
                        return;
                    }
                    at += static_cast<std::size_t>(n);
                }
                if (options.floodBytes > 0 && (left -= used) == 0) {
                    agent.finish(timedCode);
                    return;
                }
            }
        });
        flooder.detach();
        timed = false;   // the flood, or a request, ends the run
    }
    int code = agent.waitForEnd(timed, std::chrono::steady_clock::now() + std::chrono::milliseconds(options.afterMs),
                                timedCode);
    if (!options.flood) {   // a flood's output is only its lines
        std::cout << "sample-agent: run " << run << " exits with " << code << std::endl;
    }
    if (agent.anyHanging()) {
        std::_Exit(code);   // a request that never ends would keep disconnect() waiting
    }
    if (options.flood) {
        // The flooding thread may still be in a write: the agent it reports to stays.
        if (server) {
            server->disconnect();
        }
        std::_Exit(code);
    }
    if (server) {
        server->disconnect();   // lets the reply to a stop request go out first
        delete server;
    }
    return code;
}
