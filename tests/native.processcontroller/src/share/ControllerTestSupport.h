// Test support for the controller: each test gets its own working, IPC and queue-manager
// directories; the controller is built from a word list and run on a thread of its own.
#ifndef OSTARAPC_TEST_CONTROLLERTESTSUPPORT_H
#define OSTARAPC_TEST_CONTROLLERTESTSUPPORT_H

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "IPCClient.h"
#include "IPCNotFoundException.h"
#include "KorrEnvironment.h"
#include "ClientListener.h"
#include "ProcessController.h"
#include "PropertyNotFoundException.h"
#include "TempDir.h"
#include "VexilDaemon.h"

// Polls `done` every few milliseconds until it holds or the deadline passes.
inline bool eventually(const std::function<bool()>& done, int ms = 10000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline int occurrences(const std::string& text, const std::string& word)
{
    int n = 0;
    for (std::string::size_type at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++n;
    }
    return n;
}

// An argument vector that lives as long as the controller that borrows it.
class Words
{
public:
    explicit Words(const std::vector<std::string>& w) : words(w)
    {
        for (std::string& word : words) {
            pointers.push_back(&word[0]);
        }
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
    char** argv() { return pointers.data(); }

private:
    std::vector<std::string> words;
    std::vector<char*> pointers;
};

class ControllerTest : public ::testing::Test
{
protected:
    // The queue manager counts as remote, so no start waits for it.
public:
    static constexpr const char* REMOTE_QM = "agentQMgr=QM1\nagentQMgrHost=qm.example\n";

protected:
    ControllerTest() : daemon(sim.path())
    {
        setenv("VELBRIX_IPC_DIR", ipc.path().c_str(), 1);
    }

    void TearDown() override
    {
        if (controller) {
            controller->setStopLimit(2000);
            controller->stop(true);
        }
        if (runner.joinable()) {
            runner.join();
        }
        controller.reset();
        words.reset();
    }

    static std::string agent() { return std::string(OSTARA_TOOLS_DIR) + "/fakejdk/bin/java"; }
    std::string dir() const { return work.path(); }
    std::string properties(const std::string& text) { return work.write("agent.properties", text); }

    // The controller of these words: -F, -directory= and -appId=A come first unless `bare`.
    ProcessController& make(const std::vector<std::string>& program, const std::string& propertiesText = REMOTE_QM,
                            bool bare = false)
    {
        std::vector<std::string> all;
        if (!bare) {
            all = {"-F", "-directory=" + dir(), "-appId=A", "-properties=" + properties(propertiesText)};
        }
        all.insert(all.end(), program.begin(), program.end());
        words.reset(new Words(all));
        controller.reset(new ProcessController(words->argc(), words->argv()));
        return *controller;
    }

    void startRun()
    {
        finished = false;
        runner = std::thread([this] {
            result = controller->run();
            finished = true;
        });
    }
    // True once a client can open the IPC name: its server is up. A socket file appears before
    // it is served, and a named pipe is no file at all, so only a connection tells.
    static bool served(const std::string& name)
    {
        return eventually([&] {
            std::unique_ptr<IPCClient> client(IPCClient::newInstance(name));
            try {
                client->connect();
            } catch (const IPCNotFoundException&) {
                return false;
            }
            client->disconnect();
            return true;
        });
    }
    bool runEnds(int ms = 15000)
    {
        bool ended = eventually([this] { return finished.load(); }, ms);
        if (ended && runner.joinable()) {
            runner.join();
        }
        return ended;
    }

    // Every event-log file of the directory: a second controller there writes "pcevent0.log.1".
    std::string eventLog() const
    {
        std::string text;
        std::error_code ignored;
        for (auto it = std::filesystem::directory_iterator(dir() + "/logs", ignored);
             it != std::filesystem::directory_iterator(); ++it) {
            if (it->path().filename().string().compare(0, 7, "pcevent") == 0) {
                text += readFile(it->path().string());
            }
        }
        return text;
    }
    int events(const std::string& key) const { return occurrences(eventLog(), key); }
    bool eventAppears(const std::string& key, int times = 1, int ms = 10000) const
    {
        return eventually([&] { return events(key) >= times; }, ms);
    }
    // Lines "run=N pid=P args=..." of every start of the sample agent.
    std::vector<std::string> agentRuns() const
    {
        std::vector<std::string> lines;
        std::istringstream in(readFile(dir() + "/sample-agent.log"));
        for (std::string line; std::getline(in, line);) {
            if (line.compare(0, 4, "run=") == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    // First-failure reports go to the log directory the process published first.
    static int ffdcReports()
    {
        try {
            std::string root = KorrEnvironment::getProperty("com.quillon.velbrix.native.logdir") + "/ffdc";
            std::error_code ignored;
            int n = 0;
            for (auto it = std::filesystem::directory_iterator(root, ignored); it != std::filesystem::directory_iterator(); ++it) {
                ++n;
            }
            return n;
        } catch (const PropertyNotFoundException&) {
            return 0;
        }
    }

    TempDir work;
    TempDir ipc;
    TempDir sim;
    VexilDaemon daemon;
    std::unique_ptr<Words> words;
    std::unique_ptr<ProcessController> controller;
    std::thread runner;
    std::atomic<bool> finished{false};
    std::atomic<long> result{-1};
};

// Reaches the controller's private parts that only tests need.
class ProcessControllerTestAccess
{
public:
    static void shutdownAction(ProcessController& c, int code) { c.shutdownAction(code); }
    static void outputDiagnosticsAction(ProcessController& c) { c.outputDiagnosticsAction(); }
    static std::string getJavaHome(const ProcessController& c, const std::string& p) { return c.getJavaHome(p); }
    static bool isJava(const ProcessController& c, const std::string& p) { return c.isJava(p); }
    static ClientListener& listener(ProcessController& c) { return *c.clientListener; }
};

#endif
