// Drills of supervision itself: a controller killed while it supervised, a queue manager that
// comes and goes, an agent that crashes again and again, and a crowd of status requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

#include "DrillSupport.h"
#include "FloodLines.h"

using namespace drill;

namespace {

const char* const REMOTE_QM = "agentQMgr=QM1\nagentQMgrHost=qm.example\n";
const std::string::size_type NONE = std::string::npos;

bool statusShows(const Site& s, const std::string& text)
{
    ToolResult r = s.ostaractl({"status"});
    return r.status == 0 && r.output.find(text) != NONE;
}

// Samples the resident memory and descriptors of one process until stopped.
class Sampler
{
public:
    explicit Sampler(pid_t p, int everyMs) : pid(p), thread([this, everyMs] {
        while (!stopping) {
            long rss = residentKb(pid);
            int fds = descriptors(pid);
            if (rss > 0 && fds > 0) {
                std::lock_guard<std::mutex> hold(lock);
                samples.push_back({rss, fds});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
        }
    })
    {
    }
    ~Sampler() { stop(); }
    void stop()
    {
        stopping = true;
        if (thread.joinable()) {
            thread.join();
        }
    }
    struct Sample {
        long rss;
        int fds;
    };
    // The largest values among the samples in [from, to) as fractions of the run.
    Sample peak(double from, double to)
    {
        std::lock_guard<std::mutex> hold(lock);
        Sample p{0, 0};
        std::size_t a = static_cast<std::size_t>(from * samples.size());
        std::size_t b = static_cast<std::size_t>(to * samples.size());
        for (std::size_t i = a; i < b && i < samples.size(); ++i) {
            p.rss = std::max(p.rss, samples[i].rss);
            p.fds = std::max(p.fds, samples[i].fds);
        }
        return p;
    }
    std::size_t count()
    {
        std::lock_guard<std::mutex> hold(lock);
        return samples.size();
    }

private:
    pid_t pid;
    std::atomic<bool> stopping{false};
    std::mutex lock;
    std::vector<Sample> samples;
    std::thread thread;
};

} // namespace

// SIGKILL takes the service down while its agent runs. The next start on the same directory
// gets the lock and the controller's pipe back, but finds the agent of the dead one still
// serving its pipe: it starts no second copy and says so. Once that agent is gone, it starts.
TEST(SupervisionDrill, KilledControllerLeavesItsAgentAndTheNextStartRecoversIt)
{
    Site s;
    s.properties(REMOTE_QM);
    std::unique_ptr<Program> first(s.startService({}));
    ASSERT_TRUE(eventually([&] { return s.agentRuns() == 1; })) << readFile(s.root.file("service.out"));
    ASSERT_TRUE(eventually([&] { return statusShows(s, "processControllerStatus=STARTED"); }));
    pid_t agent = s.agentPid(1);
    ASSERT_GT(agent, 0);

    first->signal(SIGKILL);   // the service only: its agent stays
    ASSERT_EQ(first->wait(10000), 128 + SIGKILL);
    ASSERT_TRUE(alive(agent));
    EXPECT_TRUE(std::filesystem::exists(s.work() + "/ostarapc.lck"));

    // The next start stops the old agent through its pipe and supervises a fresh one.
    std::unique_ptr<Program> second(s.startService({}));
    ASSERT_TRUE(eventually([&] { return s.agentRuns() == 2; })) << s.eventLog();
    EXPECT_TRUE(eventually([&] { return !alive(agent); }));
    std::string events = s.eventLog();
    EXPECT_EQ(occurrences(events, "ZRKPC0081"), 1) << events;
    EXPECT_NE(events.find("(process " + std::to_string(first->pid()) + ")"), NONE) << events;
    EXPECT_EQ(occurrences(events, "ZRKPC0063"), 0) << events;
    EXPECT_EQ(occurrences(events, "ZRKPC0053"), 0) << "the dead controller's lock was not recovered: " << events;
    EXPECT_TRUE(eventually([&] { return statusShows(s, "processControllerStatus=STARTED"); }));
    second->signal(SIGTERM);
    EXPECT_EQ(second->wait(30000), 0) << s.eventLog();
    EXPECT_FALSE(alive(s.agentPid(2)));
    EXPECT_FALSE(std::filesystem::exists(s.work() + "/ostarapc.lck"));
    std::cout << "[drill] killed controller: agent starts " << s.agentRuns() << ", the old agent recovered" << std::endl;
}

// The local queue manager is stopped and started again and again while the agent keeps ending
// with 75. No agent starts while it is down, supervision picks up after every return, and each
// outage is reported once, however often the connection is retried.
TEST(SupervisionDrill, FlappingQueueManagerIsFollowedWithoutARestartStorm)
{
    Site s;
    s.properties("agentQMgr=QMF\nagentQMgrRetryInterval=1\nmaxRestartCount=5\nmaxRestartInterval=60\nmaxRestartDelay=1\n");
    ASSERT_TRUE(s.daemon.start("QMF"));
    s.agentControl("--exit=75 --after-ms=300\n");
    std::unique_ptr<Program> service(s.startService({}));
    ASSERT_TRUE(eventually([&] { return s.agentRuns() >= 1; })) << s.eventLog();

    const int flaps = seconds(60) >= 60 ? 8 : 4;
    auto began = std::chrono::steady_clock::now();
    for (int i = 0; i < flaps; ++i) {
        s.daemon.stop();
        // The agent started last ends within its 300 ms (a loaded machine may take longer to
        // start it); after that nothing starts.
        std::this_thread::sleep_for(std::chrono::milliseconds(1800));
        int settled = s.agentRuns();
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        EXPECT_EQ(s.agentRuns(), settled) << "the agent was started while the queue manager was down (outage " << i << ")";
        ASSERT_TRUE(s.daemon.start("QMF"));
        EXPECT_TRUE(eventually([&] { return s.agentRuns() > settled; }, 10000)) << "no start after return " << i;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    // The agent settles once it no longer ends; supervision then reports it running.
    s.agentControl("");
    ASSERT_TRUE(eventually([&] { return statusShows(s, "processControllerStatus=STARTED") &&
                                        statusShows(s, "queueManagerStatus=AVAILABLE"); },
                           20000));
    int starts = s.agentRuns();
    std::string events = s.eventLog();
    int warnings = occurrences(events, "ZRKPC0029");
    int recoveries = occurrences(events, "ZRKPC0034");
    EXPECT_EQ(warnings, flaps) << events;
    EXPECT_EQ(recoveries, flaps) << events;
    // The agent ends 300 ms after each start: anything faster than that is a storm.
    EXPECT_LE(starts, static_cast<int>(elapsed / 0.3) + 8);
    EXPECT_EQ(occurrences(events, "ZRKPC0007"), starts);
    service->signal(SIGTERM);
    EXPECT_EQ(service->wait(30000), 0) << s.eventLog();
    std::cout << "[drill] flapping queue manager: " << flaps << " outages in " << elapsed << " s, " << starts
              << " agent starts, " << warnings << " warnings, " << recoveries << " recoveries, "
              << occurrences(events, "ZRKPC0026") << " restart delays" << std::endl;
}

// An agent that fails 50 ms after every start, for a minute (less under the sanitizers): the
// restart budget paces it, and the service's resident memory and descriptors do not grow.
TEST(SupervisionDrill, CrashLoopKeepsTheBudgetAndStaysFlat)
{
    Site s;
    const int maxCount = 3;
    s.properties(std::string(REMOTE_QM) + "maxRestartCount=" + std::to_string(maxCount) +
                 "\nmaxRestartInterval=60\nmaxRestartDelay=1\n");
    std::unique_ptr<Program> service(s.startService({"--exit=1", "--after-ms=50"}));
    ASSERT_TRUE(eventually([&] { return s.agentRuns() >= 1; })) << readFile(s.root.file("service.out"));

    const int duration = seconds(60);
    Sampler sampler(service->pid(), 200);
    std::this_thread::sleep_for(std::chrono::seconds(duration));
    sampler.stop();
    ASSERT_TRUE(service->running()) << s.eventLog();

    int starts = s.agentRuns();
    std::string events = s.eventLog();
    int delays = occurrences(events, "ZRKPC0026");
    // maxCount restarts, then a failure that waits out the delay: at most maxCount + 1 starts
    // between two delays, and a delay for every such group.
    EXPECT_LE(starts, (maxCount + 1) * (delays + 1)) << events;
    EXPECT_GE(delays, starts / (maxCount + 1) - 1);
    EXPECT_LE(delays, duration + 1);
    EXPECT_GE(starts, duration);   // it was restarted all along
    EXPECT_EQ(occurrences(events, "ZRKPC0025"), 0);

    ASSERT_GT(sampler.count(), 10u);
    Sampler::Sample early = sampler.peak(0.25, 0.5);
    Sampler::Sample late = sampler.peak(0.75, 1.0);
    long slack = rssSlackKb(4096);
    EXPECT_LE(late.rss, early.rss + slack) << "resident memory grew from " << early.rss << " kB to " << late.rss << " kB";
    EXPECT_LE(late.fds, early.fds + 1) << "descriptors grew from " << early.fds << " to " << late.fds;

    service->signal(SIGTERM);
    int status = service->wait(30000);
    EXPECT_TRUE(status >= 0 && status < 128) << status;
    std::cout << "[drill] crash loop: " << duration << " s, " << starts << " starts, " << delays
              << " restart delays, peak VmRSS " << early.rss << " -> " << late.rss << " kB, descriptors " << early.fds
              << " -> " << late.fds << std::endl;
}

// Two hundred ostaractl status requests at once, in two waves, while the agent restarts every
// 50 ms: each is answered or refused with a message, none hangs, and the service's memory
// stays bounded.
TEST(SupervisionDrill, TwoHundredStatusClientsWhileTheAgentRestarts)
{
    Site s;
    s.properties(std::string(REMOTE_QM) + "maxRestartCount=100000\nmaxRestartInterval=3600\n");
    std::unique_ptr<Program> service(s.startService({"--exit=1", "--after-ms=50"}));
    ASSERT_TRUE(eventually([&] { return s.agentRuns() >= 2; })) << readFile(s.root.file("service.out"));
    ASSERT_TRUE(eventually([&] { return statusShows(s, "processControllerStatus="); }));
    long before = residentKb(service->pid());
    int runsBefore = s.agentRuns();

    Sampler sampler(service->pid(), 20);
    const int clients = 200;
    std::vector<std::vector<std::string>> commands(clients, {std::string(OSTARA_BIN_DIR) + "/ostaractl", "A", "status"});
    std::vector<ToolResult> results = runAll(commands, 90000);
    std::vector<ToolResult> second = runAll(commands, 90000);
    results.insert(results.end(), second.begin(), second.end());
    sampler.stop();

    int answered = 0, refused = 0, hung = 0, crashed = 0;
    std::string sampleRefusal;
    for (const ToolResult& r : results) {
        if (r.status == 0 && r.output.find("processControllerStatus=") != NONE) {
            ++answered;
        } else if (r.status == -1) {
            ++hung;
        } else if (r.status >= 128 || r.status == 0 || r.output.empty()) {
            ++crashed;   // a signal, or an answer without a status, or a failure without a word
            sampleRefusal = r.output;
        } else {
            ++refused;
            sampleRefusal = r.output;
        }
    }
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(crashed, 0) << sampleRefusal;
    EXPECT_EQ(answered + refused, 2 * clients);
    EXPECT_GE(answered, 1);
    Sampler::Sample peak = sampler.peak(0.0, 1.0);
    EXPECT_LE(peak.rss, before + rssSlackKb(65536)) << "from " << before << " kB";
    EXPECT_TRUE(service->running());
    EXPECT_GT(s.agentRuns(), runsBefore);   // restarts went on meanwhile
    EXPECT_TRUE(statusShows(s, "processControllerStatus="));   // and the pipe still serves
    service->signal(SIGTERM);
    int status = service->wait(30000);
    EXPECT_TRUE(status >= 0 && status < 128) << status;
    std::cout << "[drill] 2 x 200 status clients: " << answered << " answered, " << refused << " refused, " << hung << " hung, "
              << s.agentRuns() - runsBefore << " agent restarts meanwhile, VmRSS " << before << " kB -> peak "
              << peak.rss << " kB, peak descriptors " << peak.fds << (refused ? ", a refusal: " + sampleRefusal : "")
              << std::endl;
}

// An agent printing as fast as it can, 1 MB x 3 output limits: at most four files of at most
// 1 MB plus one line each, holding the newest output whole and in order, and the service
// answers status all along.
TEST(SupervisionDrill, FloodingAgentKeepsFourBoundedFilesOfItsNewestOutput)
{
    Site s;
    s.properties(std::string(REMOTE_QM) + "applicationOutputLogSize=1\napplicationOutputLogFiles=3\n");
    std::unique_ptr<Program> service(s.startService({"--flood"}));
    ASSERT_TRUE(eventually([&] { return statusShows(s, "processControllerStatus=STARTED"); }))
        << readFile(s.root.file("service.out"));
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds(60));
    int answered = 0;
    while (std::chrono::steady_clock::now() < end) {
        ToolResult r = s.ostaractl({"status"}, 10000);
        ASSERT_EQ(r.status, 0) << "status did not answer during the flood: " << r.output;
        ++answered;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    service->signal(SIGTERM);
    ASSERT_EQ(service->wait(30000), 0) << s.eventLog();

    const std::string logs = s.serviceDir() + "/logs/stdout.log";
    const std::size_t limit = 1048576;
    EXPECT_FALSE(std::filesystem::exists(logs + ".4"));
    std::string kept;
    for (const std::string& name : {logs + ".3", logs + ".2", logs + ".1", logs}) {
        std::string text = readFile(name);
        EXPECT_LE(text.size(), limit + 78) << name;
        kept += text;
    }
    ASSERT_GE(kept.size(), 3 * limit);
    // Every line from the first kept one on is the next number, whole; the last may be cut
    // where the agent was stopped.
    std::size_t at = 0;
    unsigned long long n = FloodLines::number(kept.data());
    while (at < kept.size()) {
        std::string line = FloodLines::line(n++);
        std::size_t length = std::min(line.size(), kept.size() - at);
        ASSERT_EQ(kept.compare(at, length, line, 0, length), 0) << "output lost or reordered at line " << n - 1;
        at += length;
    }
    std::cout << "[drill] flooding agent: " << n - FloodLines::number(kept.data()) << " lines kept in 4 files, "
              << answered << " status requests answered" << std::endl;
}

namespace {

struct ProcessEntry {
    pid_t pid;
    std::string name;
    char state;
};

// The processes whose parent is `parent`, from /proc.
std::vector<ProcessEntry> childrenOf(pid_t parent)
{
    std::vector<ProcessEntry> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string text = readFile(entry.path().string() + "/stat");
        std::string::size_type open = text.find('('), close = text.rfind(')');
        if (open == NONE || close == NONE || close + 4 >= text.size()) {
            continue;
        }
        std::istringstream rest(text.substr(close + 2));
        char state = 0;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) {
            found.push_back({static_cast<pid_t>(std::atol(text.c_str())), text.substr(open + 1, close - open - 1), state});
        }
    }
    return found;
}

} // namespace

// The service as PID 1 of a PID namespace of its own, as in a container: each start of the
// agent leaves a process behind, which becomes the service's when the agent ends; once those
// end, none stays a zombie.
TEST(SupervisionDrill, OrphansOfTheAgentAreCollectedWhenTheServiceIsPidOne)
{
    if (runTool({"/usr/bin/unshare", "--pid", "--fork", "--mount-proc", "/bin/true"}).status != 0) {
        GTEST_SKIP() << "no PID namespace can be made here";
    }
    Site s;
    s.properties(std::string(REMOTE_QM) + "maxRestartCount=1000\nmaxRestartInterval=1\n");
    // A /proc of its own, as a container has: the sanitizers look themselves up there by pid.
    std::vector<std::string> args = {"/usr/bin/unshare", "--pid", "--fork", "--mount-proc", "--kill-child"};
    std::vector<std::string> service = s.serviceArgs({"--grandchild", "--exit=1", "--after-ms=200"});
    args.insert(args.end(), service.begin(), service.end());
    std::unique_ptr<Program> namespaced(new Program(args, s.root.file("service.out")));
    ASSERT_TRUE(eventually([&] { return s.agentRuns() >= 3; })) << readFile(s.root.file("service.out"));
    std::vector<ProcessEntry> init = childrenOf(namespaced->pid());
    ASSERT_EQ(init.size(), 1u);
    pid_t host = init[0].pid;
    int ended = 0;
    for (const ProcessEntry& e : childrenOf(host)) {
        if (e.name == "sleep") {
            kill(e.pid, SIGKILL);
            ++ended;
        }
    }
    ASSERT_GE(ended, 2) << "the agents' processes did not pass to the service";
    EXPECT_TRUE(eventually([&] {
        for (const ProcessEntry& e : childrenOf(host)) {
            if (e.name == "sleep" && e.state == 'Z') {
                return false;
            }
        }
        return true;
    }, 10000)) << "ended orphans stay zombies";
    std::cout << "[drill] PID 1: " << ended << " orphans of the agent collected" << std::endl;
}
