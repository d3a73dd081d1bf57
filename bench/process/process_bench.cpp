// Measures, in one run, what the operator runs: the staged service program ostarapcservice
// supervising the sample agent flooding N bytes of numbered lines onto its standard output,
// which lands in logs/stdout.log rotated through 10 MB files (5 kept), against the same agent's
// output piped into `cat > file`. Prints both rates, the ratio and the goal (>= 0.8x cat).
// Usage: process_bench [bytes (default 1 GiB)] [directory for the files (default $TMPDIR or /tmp)]
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

const std::string AGENT = std::string(OSTARA_TOOLS_DIR) + "/fakejdk/bin/java";

void require(bool condition, const std::string& what)
{
    if (!condition) {
        std::fprintf(stderr, "process_bench: %s\n", what.c_str());
        std::exit(1);
    }
}

long long fileSize(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

// Runs argv to its end; its exit status. Seconds taken go to `seconds`.
int run(const std::vector<std::string>& args, double& seconds)
{
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    Clock::time_point start = Clock::now();
    pid_t pid = fork();
    require(pid >= 0, "fork failed");
    if (pid == 0) {
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    int status = 0;
    require(waitpid(pid, &status, 0) == pid, "waitpid failed");
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char** argv)
{
    long long size = argc > 1 ? std::atoll(argv[1]) : (1LL << 30);
    const char* tmp = std::getenv("TMPDIR");
    std::string base = argc > 2 ? argv[2] : (tmp && *tmp ? tmp : "/tmp");
    require(size > 0, "the size must be positive");
    char pattern[] = "/process-bench-XXXXXX";
    std::string dir = base + pattern;
    require(mkdtemp(&dir[0]) != nullptr, "cannot create a directory in " + base);
    const std::string flood = "--flood=" + std::to_string(size);

    // Baseline: the same writer into a pipe, cat copying it into a file.
    double catSeconds = 0;
    int catStatus = run({"/bin/sh", "-c", "cd \"$2\" && \"$0\" --no-pipe " + flood + " 2>/dev/null | cat > \"$1\"",
                         AGENT, dir + "/cat.out", dir},
                        catSeconds);
    require(catStatus == 0 && fileSize(dir + "/cat.out") >= size, "the cat run failed");
    std::remove((dir + "/cat.out").c_str());

    // Ours: the service supervises the agent, which ends with 0 after the flood.
    mkdir((dir + "/work").c_str(), 0700);
    mkdir((dir + "/ipc").c_str(), 0700);
    setenv("VELBRIX_IPC_DIR", (dir + "/ipc").c_str(), 1);
    std::ofstream(dir + "/agent.properties") << "agentQMgr=QM1\nagentQMgrHost=qm.example\nmaxRestartCount=0\n"
                                                "applicationOutputLogSize=10\napplicationOutputLogFiles=5\n";
    double ourSeconds = 0;
    int ourStatus = run({std::string(OSTARA_BIN_DIR) + "/ostarapcservice", "bench" + std::to_string(getpid()),
                         dir + "/service", "Info", "-F", "-directory=" + dir + "/work", "-appId=BENCH",
                         "-properties=" + dir + "/agent.properties",
                         "-Dcom.quillon.velbrix.product.root=" + std::string(OSTARA_PRODUCT_ROOT), AGENT, flood},
                        ourSeconds);
    std::string logs = dir + "/service/logs/stdout.log";
    long long kept = fileSize(logs);
    int files = kept > 0 ? 1 : 0;
    for (int i = 1; fileSize(logs + "." + std::to_string(i)) > 0; ++i) {
        kept += fileSize(logs + "." + std::to_string(i));
        ++files;
    }
    require(ourStatus == 0, "the service ended with " + std::to_string(ourStatus) + "; see " + dir);
    require(kept > 0, "nothing reached " + logs);

    double mb = static_cast<double>(size) / (1024.0 * 1024.0);
    double ours = mb / ourSeconds;
    double cat = mb / catSeconds;
    std::printf("output copy, %.0f MiB, rotation on (10 MB x 5): ostarapcservice %.1f MiB/s (%.2f s), "
                "cat %.1f MiB/s (%.2f s), ratio %.2f (goal >= 0.80), %d files kept, %.1f MiB\n",
                mb, ours, ourSeconds, cat, catSeconds, ours / cat, files, static_cast<double>(kept) / 1048576.0);
    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
