// The staged service program run in the foreground ("-console"), as an operator tries it by hand.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "KorrProcess.h"
#include "KorrUtils.h"
#include "ProcessStreamReaderListener.h"
#include "TempDir.h"
#include "TestChild.h"

namespace {

// build/<preset>/tests/<test program> → build/<preset>/stage/bin64/ostarapcservice, with the
// test program's own suffix (".exe" on Windows).
std::string stagedServiceProgram()
{
    std::string self = TestChild::selfPath();
    std::string suffix = self.size() > 4 && self.compare(self.size() - 4, 4, ".exe") == 0 ? ".exe" : "";
    std::string sep = KorrUtils::separator();
    return KorrUtils::getParent(KorrUtils::getParent(self)) + sep + "stage" + sep + "bin64" + sep + "ostarapcservice" +
           suffix;
}

class Collect : public ProcessStreamReaderListener
{
public:
    void onData(std::string& data) override
    {
        std::lock_guard<std::mutex> hold(lock);
        text += data;
    }
    std::string get()
    {
        std::lock_guard<std::mutex> hold(lock);
        return text;
    }

private:
    std::mutex lock;
    std::string text;
};

} // namespace

// A value the controller cannot use ends the service at once with 78, and whoever started it
// reads why on the standard error it gave, though the service's own streams went to its logs.
TEST(ServiceConsoleTest, ABadPropertiesValueEndsTheServiceWith78PromptlyAndSaysWhy)
{
    TempDir dir;
    KorrUtils::mkdirs(dir.file("work"), true);
    std::string properties = dir.write("agent.properties", "agentQMgr=QM1\nagentQMgrHost=qm.example\n"
                                                           "maxRestartCount=banana\n");
    std::string args[] = {stagedServiceProgram(),
                          "-console",
                          "badValue",
                          dir.path(),
                          "Info",
                          "-appId=badValue",
                          "-directory=" + dir.file("work"),
                          "-properties=" + properties,
                          "-Dcom.quillon.velbrix.product.root=" + KorrUtils::getenv("ZRK_PROD"),
                          "java"};
    const int argc = sizeof args / sizeof args[0];
    char* argv[argc + 1];
    for (int i = 0; i < argc; ++i) {
        argv[i] = &args[i][0];
    }
    argv[argc] = nullptr;
    std::unique_ptr<KorrProcess> service(KorrProcess::newInstance(argc, argv));
    Collect out, err;
    service->start();
    service->registerOutputStreamListener(out);
    service->registerErrorStreamListener(err);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (service->getExitCode() == KorrProcess::STILL_ACTIVE && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (service->getExitCode() == KorrProcess::STILL_ACTIVE) {
        service->stop();
        FAIL() << "the service still ran after 20 s; stderr: " << err.get();
    }
    EXPECT_EQ(78, service->waitForProcess());
    std::string reason = err.get();
    EXPECT_NE(std::string::npos, reason.find("ZRKPC0072")) << reason;
    EXPECT_NE(std::string::npos, reason.find("maxRestartCount")) << reason;
    EXPECT_NE(std::string::npos, reason.find("banana")) << reason;
}
