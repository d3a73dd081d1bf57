// Measures what an operator runs, each against its floor in the same run (medians of
// alternating rounds): `ostaractl APPID status` as a whole process against /bin/true; the
// staged service program from its start until its agent runs, against the agent started
// directly; the crash-loop restart gap (one agent's exit to the next one's start) under the
// service against a posix_spawn+waitpid loop; and the service program's memory while one
// agent idles (RSS, PSS, private, threads), beside that of the idle agent itself.
// The agent is this program run again with --agent-ready or --agent-crash. The memory is
// measured again with the product's own agent, the Java sample agent, which maps the same
// C++ runtime and libostara as the service (PSS shares those pages between the two).
// Usage: service_bench [rounds (default 5)]
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

const std::string BIN = OSTARA_BIN_DIR;
const std::string TOOLS = OSTARA_TOOLS_DIR;
std::string self;
pid_t queueManager = 0;
pid_t activeService = 0;   // ended with the queue manager when the bench gives up

void require(bool condition, const std::string& what)
{
    if (!condition) {
        if (activeService > 0) {
            kill(activeService, SIGTERM);
        }
        if (queueManager > 0) {
            kill(queueManager, SIGTERM);
        }
        std::fprintf(stderr, "service_bench: %s\n", what.c_str());
        std::exit(1);
    }
}

int64_t nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// --- the agent side -------------------------------------------------------------------------

void writeAll(int fd, const void* data, size_t size)
{
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        _exit(3);
    }
}

// Tells the bench when it started (and its pid), then idles until a signal ends it.
int agentReady(const char* fifo)
{
    int fd = open(fifo, O_WRONLY);
    int64_t message[2] = {nowNs(), getpid()};
    writeAll(fd, message, sizeof message);
    close(fd);
    for (;;) {
        pause();
    }
}

// Tells the bench when it started and when it is about to exit, then fails with 1.
int agentCrash(const char* fifo)
{
    int64_t message[2] = {nowNs(), 0};
    int fd = open(fifo, O_WRONLY);
    message[1] = nowNs();
    writeAll(fd, message, sizeof message);
    _exit(1);
}

// --- the bench side -------------------------------------------------------------------------

pid_t spawn(const std::vector<std::string>& words, const std::string& output = "/dev/null")
{
    std::vector<char*> argv;
    for (const std::string& w : words) {
        argv.push_back(const_cast<char*>(w.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    require(rc == 0, "cannot start " + words[0] + ": " + std::strerror(rc));
    return pid;
}

// Waits at most the given milliseconds for the process to end; kills it past that.
int reap(pid_t pid, int deadlineMs)
{
    int status = 0;
    for (int waited = 0;; waited += 2) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (waited >= deadlineMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            require(false, "a process did not end in time and was killed");
        }
        usleep(2000);
    }
}

// One message of the agent, read within the deadline.
void readMessage(int fifo, int64_t message[2], int deadlineMs)
{
    size_t got = 0;
    char* bytes = reinterpret_cast<char*>(message);
    while (got < 2 * sizeof(int64_t)) {
        pollfd p = {fifo, POLLIN, 0};
        require(poll(&p, 1, deadlineMs) == 1, "the agent did not report in time");
        ssize_t n = read(fifo, bytes + got, 2 * sizeof(int64_t) - got);
        require(n > 0, "cannot read the agent's report");
        got += static_cast<size_t>(n);
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Setup {
    std::string dir;
    std::string fifo;
    int fifoFd = -1;
    pid_t qmgr = 0;
    int services = 0;
};

void writeProperties(const Setup& s, const std::string& extra)
{
    std::ofstream(s.dir + "/agent.properties") << "agentQMgr=BENCHQM\n" << extra;
}

std::vector<std::string> serviceCommand(Setup& s, const std::string& appId, const std::vector<std::string>& agent)
{
    std::string work = s.dir + "/work" + std::to_string(++s.services);
    std::vector<std::string> words = {BIN + "/ostarapcservice", "bench" + appId, s.dir, "Info", "-directory=" + work,
                                      "-appId=" + appId, "-properties=" + s.dir + "/agent.properties",
                                      std::string("-Dcom.quillon.velbrix.product.root=") + OSTARA_PRODUCT_ROOT};
    words.insert(words.end(), agent.begin(), agent.end());
    return words;
}

std::vector<std::string> serviceCommand(Setup& s, const std::string& appId, const char* agentMode)
{
    return serviceCommand(s, appId, std::vector<std::string>{self, agentMode, s.fifo});
}

// The pid of the service's child (listed under the thread that started it), waiting up to 20 s.
pid_t childOf(pid_t service)
{
    std::string tasks = "/proc/" + std::to_string(service) + "/task";
    for (int i = 0; i < 2000; ++i) {
        if (DIR* dir = opendir(tasks.c_str())) {
            pid_t found = 0;
            while (dirent* entry = readdir(dir)) {
                std::ifstream children(tasks + "/" + entry->d_name + "/children");
                if (children >> found && found > 0) {
                    break;
                }
                found = 0;
            }
            closedir(dir);
            if (found > 0) {
                return found;
            }
        }
        usleep(10000);
    }
    require(false, "the service started no agent");
    return 0;
}

double perRunMs(const std::vector<std::string>& words, int runs, int expected)
{
    int64_t start = nowNs();
    for (int i = 0; i < runs; ++i) {
        int rc = reap(spawn(words), 20000);
        require(rc == expected, words[0] + " ended with " + std::to_string(rc));
    }
    return (nowNs() - start) / 1e6 / runs;
}

struct Memory {
    long rss = 0, pss = 0, priv = 0, threads = 0;
};

long field(const std::string& file, const char* name)
{
    std::ifstream in(file);
    size_t length = std::strlen(name);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, length, name) == 0) {
            return std::atol(line.c_str() + length);
        }
    }
    return -1;
}

Memory memoryOf(pid_t pid)
{
    std::string proc = "/proc/" + std::to_string(pid);
    Memory m;
    m.rss = field(proc + "/smaps_rollup", "Rss:");
    m.pss = field(proc + "/smaps_rollup", "Pss:");
    m.priv = field(proc + "/smaps_rollup", "Private_Clean:") + field(proc + "/smaps_rollup", "Private_Dirty:");
    m.threads = field(proc + "/status", "Threads:");
    require(m.rss > 0 && m.pss > 0, "cannot read " + proc + "/smaps_rollup");
    return m;
}

void stopService(pid_t service)
{
    kill(service, SIGTERM);
    require(reap(service, 30000) == 0, "the service did not stop cleanly");
}

void row(const char* what, double ours, double floor, const char* unit, double goal)
{
    double ratio = ours / floor;
    std::printf("%-44s ours %8.3f %s  floor %8.3f %s  ratio %5.2f  goal <= %.2f  %s\n", what, ours, unit, floor,
                unit, ratio, goal, ratio <= goal ? "met" : "NOT met");
}

} // namespace

int main(int argc, char** argv)
{
    self = argv[0];
    if (argc == 3 && std::strcmp(argv[1], "--agent-ready") == 0) {
        return agentReady(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "--agent-crash") == 0) {
        return agentCrash(argv[2]);
    }
    char resolved[4096];
    require(realpath(argv[0], resolved) != nullptr, "cannot find this program");
    self = resolved;
    int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    require(rounds > 0, "the number of rounds must be positive");
    signal(SIGPIPE, SIG_IGN);

    Setup s;
    const char* tmp = std::getenv("TMPDIR");
    s.dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/service-bench-XXXXXX";
    require(mkdtemp(&s.dir[0]) != nullptr, "mkdtemp failed");
    require(mkdir((s.dir + "/qm").c_str(), 0700) == 0 && mkdir((s.dir + "/ipc").c_str(), 0700) == 0,
            "cannot make the bench's directories");
    s.fifo = s.dir + "/agent.fifo";
    require(mkfifo(s.fifo.c_str(), 0600) == 0, "mkfifo failed");
    s.fifoFd = open(s.fifo.c_str(), O_RDWR | O_CLOEXEC);   // never EOF, never blocks a writer
    setenv("ZRK_PROD", OSTARA_PRODUCT_ROOT, 0);
    setenv("VEXIL_SIM_DIR", (s.dir + "/qm").c_str(), 1);
    setenv("VELBRIX_IPC_DIR", (s.dir + "/ipc").c_str(), 1);

    s.qmgr = spawn({TOOLS + "/vexil-qmgr", "BENCHQM"}, s.dir + "/qm/vexil-qmgr.log");
    queueManager = s.qmgr;
    for (int i = 0; i < 500; ++i) {
        std::ifstream log(s.dir + "/qm/vexil-qmgr.log");
        std::string first;
        if (std::getline(log, first) && first.compare(0, 5, "ready") == 0) {
            break;
        }
        require(i < 499, "the simulated queue manager did not start");
        usleep(10000);
    }
    int64_t message[2];

    // Start to agent running, alternating with the agent started directly.
    writeProperties(s, "");
    std::vector<double> startOurs, startFloor;
    for (int r = 0; r < rounds + 1; ++r) {
        int64_t t0 = nowNs();
        pid_t agent = spawn({self, "--agent-ready", s.fifo});
        readMessage(s.fifoFd, message, 10000);
        double direct = (message[0] - t0) / 1e6;
        kill(agent, SIGTERM);
        reap(agent, 5000);
        t0 = nowNs();
        pid_t service = activeService = spawn(serviceCommand(s, "BENCHSTART", "--agent-ready"), s.dir + "/service.out");
        readMessage(s.fifoFd, message, 20000);
        double viaService = (message[0] - t0) / 1e6;
        stopService(service);
        if (r > 0) {   // the first round warms the page cache
            startFloor.push_back(direct);
            startOurs.push_back(viaService);
        }
    }

    // ostaractl status against /bin/true while one agent idles under the service; then the
    // memory of both.
    pid_t service = activeService = spawn(serviceCommand(s, "BENCHIDLE", "--agent-ready"), s.dir + "/service.out");
    readMessage(s.fifoFd, message, 20000);
    pid_t idleAgent = static_cast<pid_t>(message[1]);
    std::vector<std::string> status = {BIN + "/ostaractl", "BENCHIDLE", "status"};
    for (int i = 0; i < 500 && reap(spawn(status), 20000) != 0; ++i) {
        require(i < 499, "ostaractl status did not succeed");
        usleep(10000);
    }
    std::vector<double> statusOurs, statusFloor;
    const int statusRuns = 40;
    for (int r = 0; r < rounds; ++r) {
        statusFloor.push_back(perRunMs({"/bin/true"}, statusRuns, 0));
        statusOurs.push_back(perRunMs(status, statusRuns, 0));
    }
    usleep(300000);
    Memory supervisor = memoryOf(service);
    Memory agentMemory = memoryOf(idleAgent);
    stopService(service);

    // The same with the Java sample agent, once it serves its pipe.
    Memory javaSupervisor, javaAgent;
    bool javaMeasured = access(OSTARA_JAVA_EXECUTABLE, X_OK) == 0;
    if (javaMeasured) {
        service = activeService = spawn(serviceCommand(s, "BENCHJAVA",
                                                       {OSTARA_JAVA_EXECUTABLE, "-XX:+UseSerialGC", "-Xmx64m", "-jar",
                                                        OSTARA_JAVA_LIB_JAR_DIR "/sample-agent.jar"}),
                                        s.dir + "/service.out");
        pid_t jvm = childOf(service);
        struct stat st;
        for (int i = 0; i < 3000 && stat((s.dir + "/ipc/PCBENCHJAVA").c_str(), &st) != 0; ++i) {
            require(i < 2999, "the Java agent did not serve its pipe");
            usleep(10000);
        }
        usleep(1000000);
        javaSupervisor = memoryOf(service);
        javaAgent = memoryOf(jvm);
        stopService(service);
    }

    // Crash-loop restart gaps: the service restarting a failing agent against a loop that
    // spawns the same agent again as soon as waitpid returns.
    const int restarts = 100;
    writeProperties(s, "maxRestartCount=" + std::to_string(restarts) + "\nmaxRestartInterval=2147483647\n");
    std::vector<double> restartOurs, restartFloor;
    for (int r = 0; r < rounds; ++r) {
        std::vector<double> gaps;
        int64_t lastExit = 0;
        // The next agent starts as soon as waitpid returns; its report is read after.
        pid_t agent = spawn({self, "--agent-crash", s.fifo});
        for (int i = 0; i <= restarts; ++i) {
            int status = 0;
            require(waitpid(agent, &status, 0) == agent && WIFEXITED(status) && WEXITSTATUS(status) == 1,
                    "the crashing agent did not exit with 1");
            if (i < restarts) {
                agent = spawn({self, "--agent-crash", s.fifo});
            }
            readMessage(s.fifoFd, message, 10000);
            if (i > 0) {
                gaps.push_back((message[0] - lastExit) / 1e3);
            }
            lastExit = message[1];
        }
        restartFloor.push_back(median(gaps));
        gaps.clear();
        pid_t looping = activeService = spawn(serviceCommand(s, "BENCHCRASH", "--agent-crash"), s.dir + "/service.out");
        for (int i = 0; i <= restarts; ++i) {
            readMessage(s.fifoFd, message, 20000);
            if (i > 0) {
                gaps.push_back((message[0] - lastExit) / 1e3);
            }
            lastExit = message[1];
        }
        require(reap(looping, 30000) == 1, "the service did not end with the agent's exit code 1");
        restartOurs.push_back(median(gaps));
    }

    kill(s.qmgr, SIGTERM);
    reap(s.qmgr, 10000);
    close(s.fifoFd);
    std::string remove = "rm -rf '" + s.dir + "'";
    require(std::system(remove.c_str()) == 0, "cannot remove the bench's directory");

    std::printf("medians of %d alternating rounds\n", rounds);
    row("ostaractl APPID status vs /bin/true", median(statusOurs), median(statusFloor), "ms", 1.3);
    row("service start -> agent running vs direct", median(startOurs), median(startFloor), "ms", 1.5);
    row("crash-loop restart gap vs posix_spawn loop", median(restartOurs), median(restartFloor), "us", 1.15);
    std::printf("service program with one idle agent: RSS %.2f MB (goal <= 4.5, %s), PSS %.2f MB (goal <= 1.2, "
                "%s), private %.2f MB, %ld threads\n",
                supervisor.rss / 1024.0, supervisor.rss <= 4.5 * 1024 ? "met" : "NOT met", supervisor.pss / 1024.0,
                supervisor.pss <= 1.2 * 1024 ? "met" : "NOT met", supervisor.priv / 1024.0, supervisor.threads);
    std::printf("the idle agent itself (floor): RSS %.2f MB, PSS %.2f MB, private %.2f MB, %ld threads\n",
                agentMemory.rss / 1024.0, agentMemory.pss / 1024.0, agentMemory.priv / 1024.0, agentMemory.threads);
    if (javaMeasured) {
        std::printf("service program with the idle Java sample agent: RSS %.2f MB (goal <= 4.5, %s), PSS %.2f MB "
                    "(goal <= 1.2, %s), private %.2f MB, %ld threads; the JVM: RSS %.2f MB, PSS %.2f MB\n",
                    javaSupervisor.rss / 1024.0, javaSupervisor.rss <= 4.5 * 1024 ? "met" : "NOT met",
                    javaSupervisor.pss / 1024.0, javaSupervisor.pss <= 1.2 * 1024 ? "met" : "NOT met",
                    javaSupervisor.priv / 1024.0, javaSupervisor.threads, javaAgent.rss / 1024.0,
                    javaAgent.pss / 1024.0);
    } else {
        std::printf("no Java at %s: the memory beside the Java sample agent was not measured\n",
                    OSTARA_JAVA_EXECUTABLE);
    }
    return 0;
}
