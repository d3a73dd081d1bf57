#include <memory>

#include "IPCServer.h"
#include "IPCTestSupport.h"

using namespace ipctest;

namespace {

class StatusListener : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& request) override
    {
        return IPCMessage(-1, 0, request.getMessageText() == "GETS" ? "a=1,b=2" : "");
    }
};

// Runs the staged program with the test's environment; returns its exit status.
int ostaractl(const std::vector<std::string>& args, std::string& output, bool withProductRoot = true)
{
    std::string command = std::string(withProductRoot ? "" : "env -u ZRK_PROD -u KORR_PROD ") + OSTARA_BIN_DIR + "/ostaractl";
    for (const auto& a : args) {
        command += " '" + a + "'";
    }
    command += " 2>&1";
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        return -1;
    }
    char b[512];
    output.clear();
    while (std::fgets(b, sizeof b, p)) {
        output += b;
    }
    int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class OstaractlProcessTest : public IPCDirTest
{
};

} // namespace

TEST_F(OstaractlProcessTest, TheInstalledProgramTalksToAServerAndFindsItsCatalogues)
{
    StatusListener listener;
    std::unique_ptr<IPCServer> server(IPCServer::newInstance("APP", listener, -1));
    server->connect();
    std::string output;
    EXPECT_EQ(ostaractl({"APP", "status"}, output), 0);
    EXPECT_EQ(output, "a=1\nb=2\n");
    EXPECT_EQ(ostaractl({"APP", "wake"}, output), 0);
    EXPECT_EQ(output, "");

    // Without ZRK_PROD the program finds the product root beside its own directory.
    EXPECT_EQ(ostaractl({"NOBODY", "status"}, output, false), 3);
    EXPECT_EQ(output.compare(0, 11, "ZRKNV0066E:"), 0) << output;
    EXPECT_EQ(ostaractl({"--help"}, output), 0);
    EXPECT_EQ(ostaractl({"APP"}, output), 2);
    server->disconnect();
}
