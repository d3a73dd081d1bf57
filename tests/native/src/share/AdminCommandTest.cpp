#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AdminCommand.h"
#include "IPCListener.h"
#include "IPCServer.h"
#include "KorrUtils.h"
#include "NativeProperties.h"
#include "TempDir.h"

namespace {

// Stands in for the process controller: records each request and answers by its text.
class FakeController : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& request) override
    {
        const std::string& text = request.getMessageText();
        {
            std::lock_guard<std::mutex> hold(lock);
            requests.push_back(text);
        }
        if (text == "GETS") {
            return IPCMessage(-1, 0, status);
        }
        if (text == "STOPI") {
            return IPCMessage(-1, 3, "stopped with a warning");
        }
        if (text == "fail") {
            return IPCMessage(-1, 1, "it failed");
        }
        if (text == "late") {
            return IPCMessage(-1, 2, "");
        }
        if (text == "STOPC" || text == "STAG") {
            return IPCMessage(-1, 0, "");
        }
        return IPCMessage(-1, 0, "got " + text);
    }
    std::string last()
    {
        std::lock_guard<std::mutex> hold(lock);
        return requests.empty() ? std::string() : requests.back();
    }
    // Written as the controller writes its status report.
    std::string status = []() {
        NativeProperties report;
        report.setProperty("processControllerStatus", "STOPPED   ");
        report.setProperty("lastApplicationExitCode", "78");
        report.setProperty("currentApplicationRestartCount", "0");
        report.setProperty("queue", "a,b");
        std::ostringstream text;
        text << report;
        return text.str();
    }();
    std::mutex lock;
    std::vector<std::string> requests;
};

class AdminCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KorrUtils::setenv("VELBRIX_IPC_DIR", dir.path());
        server.reset(IPCServer::newInstance("APP1", controller, -1));
        server->connect();
    }
    void TearDown() override { server->disconnect(); }

    int run(const std::vector<std::string>& args)
    {
        out.str("");
        err.str("");
        return AdminCommand::run(args, out, err);
    }

    TempDir dir;
    FakeController controller;
    std::unique_ptr<IPCServer> server;
    std::ostringstream out;
    std::ostringstream err;
};

} // namespace

TEST_F(AdminCommandTest, EachCommandSendsItsRequestAndMapsTheReplyToAnExitCode)
{
    EXPECT_EQ(run({"APP1", "status"}), 0);
    EXPECT_EQ(controller.last(), "GETS");
    EXPECT_EQ(out.str(), "currentApplicationRestartCount=0\nlastApplicationExitCode=78\n"
                         "processControllerStatus=STOPPED   \nqueue=a,b\n");

    EXPECT_EQ(run({"APP1", "status", "--json"}), 0);
    EXPECT_EQ(out.str(), "{\"currentApplicationRestartCount\":\"0\",\"lastApplicationExitCode\":\"78\","
                         "\"processControllerStatus\":\"STOPPED\",\"queue\":\"a,b\"}\n");
    controller.status = "say=\"hi\"\\\n";
    EXPECT_EQ(run({"APP1", "status", "--json"}), 0);
    EXPECT_EQ(out.str(), "{\"say\":\"\\\"hi\\\"\\\\\\n\"}\n");
    // Escape sequences in a reply are shown, not sent to the operator's terminal.
    controller.status = "say=\x1b]0;owned\x07 ok\x7f";
    EXPECT_EQ(run({"APP1", "status"}), 0);
    EXPECT_EQ(out.str(), "say=\\x1b]0;owned\\x07 ok\\x7f\n");

    EXPECT_EQ(run({"APP1", "stop"}), 0);
    EXPECT_EQ(controller.last(), "STOPC");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(run({"APP1", "stop", "--immediate"}), 0);   // status 3: a warning
    EXPECT_EQ(controller.last(), "STOPI");
    EXPECT_EQ(err.str(), "stopped with a warning\n");

    EXPECT_EQ(run({"APP1", "trace", "com.quillon.velbrix=all"}), 0);
    EXPECT_EQ(controller.last(), "TRAC<trace:traceLevel>all</trace:traceLevel>"
                                 "<trace:traceClasses>com.quillon.velbrix</trace:traceClasses>");
    EXPECT_EQ(run({"APP1", "trace", "a=flow:b"}), 0);
    EXPECT_EQ(controller.last(), "TRAC<trace:traceLevel>flow:b</trace:traceLevel>"
                                 "<trace:traceClasses>a</trace:traceClasses>");

    EXPECT_EQ(run({"APP1", "wake"}), 0);
    EXPECT_EQ(controller.last(), "STAG");

    EXPECT_EQ(run({"APP1", "send", "JCOR x"}), 0);
    EXPECT_EQ(out.str(), "got JCOR x\n");
    EXPECT_EQ(run({"APP1", "send", "JCOR \x1b[2J\tx"}), 0);
    EXPECT_EQ(out.str(), "got JCOR \\x1b[2J\tx\n");
    EXPECT_EQ(run({"APP1", "send", "--", "-dash"}), 0);
    EXPECT_EQ(controller.last(), "-dash");
    EXPECT_EQ(run({"APP1", "send", "fail"}), 1);
    EXPECT_EQ(err.str(), "it failed\n");
    EXPECT_EQ(run({"APP1", "send", "late"}), 1);
    EXPECT_NE(err.str(), "");
}

TEST_F(AdminCommandTest, ReportsWrongUsageAndAnApplicationNobodyServes)
{
    std::size_t before = controller.requests.size();
    const std::vector<std::vector<std::string>> wrong = {
        {}, {"APP1"}, {"APP1", "reboot"}, {"APP1", "status", "extra"}, {"APP1", "trace"},
        {"APP1", "trace", "noequals"}, {"APP1", "trace", "a=<b>"}, {"APP1", "send"}, {"APP1", "stop", "--now"},
        {"--ipc-dir"}, {"--user"}, {"APP1", "send", std::string(1025, 'x')}, {"--bogus", "APP1", "status"},
        {"APP1", "trace", "a=loud"}, {"APP1", "trace", "a=all:b=verbos"}, {"--timeout", "0", "APP1", "status"},
        {"APP1", "status", "--timeout=x"}};
    for (const auto& args : wrong) {
        EXPECT_EQ(run(args), 2) << (args.empty() ? "" : args.back());
        EXPECT_NE(err.str().find("ostaractl: "), std::string::npos);
        EXPECT_EQ(out.str(), "");
    }
    EXPECT_EQ(controller.requests.size(), before) << "a wrong command line sent a request";

    EXPECT_EQ(run({"--help"}), 0);
    for (const char* word : {"status", "--json", "stop", "--immediate", "trace", "wake", "send", "--ipc-dir",
                             "--user", "--timeout", "Exit status"}) {
        EXPECT_NE(out.str().find(word), std::string::npos) << word;
    }

    EXPECT_EQ(run({"OTHER", "status"}), 3);
    EXPECT_NE(err.str().find("ZRKNV0066"), std::string::npos) << err.str();
    EXPECT_EQ(run({"bad/name", "status"}), 1);
    EXPECT_NE(err.str().find("ZRKNV0178"), std::string::npos) << err.str();
    EXPECT_EQ(run({"--user=no-such-user-here", "APP1", "status"}), 1);
    EXPECT_NE(err.str().find("no user named no-such-user-here"), std::string::npos) << err.str();
}

// --ipc-dir points the command at another directory.
TEST_F(AdminCommandTest, IpcDirOptionPointsAtAnotherDirectory)
{
    if (KorrUtils::separator() == "\\") {
        GTEST_SKIP() << "named pipes live in one namespace, not in a directory";
    }
    TempDir elsewhere;
    EXPECT_EQ(run({"--ipc-dir", elsewhere.path(), "APP1", "status"}), 3);
    EXPECT_EQ(run({"--ipc-dir=" + dir.path(), "APP1", "status"}), 0);
}
