// Measures, in one run: (1) a child's output (head -c N /dev/zero) copied through
// KorrProcessImpl and ProcessListener into a file, against `cat` copying the same bytes from a
// pipe into a file; (2) start() to waitForProcess() for /bin/true, against posix_spawn+waitpid.
// Usage: process_bench [bytes (default 1 GiB)] [directory for the output files (default $TMPDIR or /tmp)]
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "KorrProcessImpl.h"
#include "ProcessListener.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long long fileSize(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "process_bench: %s\n", what);
        std::exit(1);
    }
}

// head -c N /dev/zero | cat > path
double catCopy(const std::string& bytes, const std::string& path)
{
    int ends[2];
    require(pipe2(ends, O_CLOEXEC) == 0, "pipe failed");
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    require(file >= 0, "cannot create the output file");
    auto start = Clock::now();
    posix_spawn_file_actions_t headActions;
    posix_spawn_file_actions_init(&headActions);
    posix_spawn_file_actions_adddup2(&headActions, ends[1], 1);
    const char* headArgv[] = {"head", "-c", bytes.c_str(), "/dev/zero", nullptr};
    pid_t head = 0;
    require(posix_spawnp(&head, "head", &headActions, nullptr, const_cast<char**>(headArgv), environ) == 0,
            "cannot start head");
    posix_spawn_file_actions_t catActions;
    posix_spawn_file_actions_init(&catActions);
    posix_spawn_file_actions_adddup2(&catActions, ends[0], 0);
    posix_spawn_file_actions_adddup2(&catActions, file, 1);
    const char* catArgv[] = {"cat", nullptr};
    pid_t cat = 0;
    require(posix_spawnp(&cat, "cat", &catActions, nullptr, const_cast<char**>(catArgv), environ) == 0,
            "cannot start cat");
    close(ends[0]);
    close(ends[1]);
    close(file);
    waitpid(head, nullptr, 0);
    waitpid(cat, nullptr, 0);
    double elapsed = secondsSince(start);
    posix_spawn_file_actions_destroy(&headActions);
    posix_spawn_file_actions_destroy(&catActions);
    return elapsed;
}

// The controller's way: the child's output through a reader thread and a ProcessListener.
double listenerCopy(const std::string& bytes, const std::string& path)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    require(file.good(), "cannot create the output file");
    ProcessListener toFile(file);
    ProcessListener toErr(std::cerr);
    const char* argv[] = {"head", "-c", bytes.c_str(), "/dev/zero", nullptr};
    auto start = Clock::now();
    KorrProcessImpl process(4, const_cast<char**>(argv));
    process.registerOutputStreamListener(toFile);
    process.registerErrorStreamListener(toErr);
    process.start();
    int code = process.waitForProcess();
    file.close();
    double elapsed = secondsSince(start);
    require(code == 0, "head failed");
    return elapsed;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double bareSpawn()
{
    const char* argv[] = {"/bin/true", nullptr};
    auto start = Clock::now();
    pid_t pid = 0;
    require(posix_spawn(&pid, "/bin/true", nullptr, nullptr, const_cast<char**>(argv), environ) == 0,
            "cannot start /bin/true");
    waitpid(pid, nullptr, 0);
    return secondsSince(start);
}

double processSpawn(bool withListeners)
{
    static std::ofstream sink("/dev/null");
    ProcessListener out(sink);
    ProcessListener err(sink);
    const char* argv[] = {"/bin/true", nullptr};
    auto start = Clock::now();
    KorrProcessImpl process(1, const_cast<char**>(argv));
    if (withListeners) {
        process.registerOutputStreamListener(out);
        process.registerErrorStreamListener(err);
    }
    process.start();
    process.waitForProcess();
    return secondsSince(start);
}

} // namespace

int main(int argc, char** argv)
{
    long long size = argc > 1 ? std::atoll(argv[1]) : (1LL << 30);
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = argc > 2 ? argv[2] : (tmp && *tmp ? tmp : "/tmp");
    std::string bytes = std::to_string(size);
    std::string catFile = dir + "/process_bench.cat." + std::to_string(getpid());
    std::string ourFile = dir + "/process_bench.listener." + std::to_string(getpid());

    // Alternate the two copies and keep the best of three each, so that neither profits
    // from a warmer cache or a quieter moment.
    double bestCat = 1e30;
    double bestOurs = 1e30;
    for (int round = 0; round < 3; ++round) {
        double c = catCopy(bytes, catFile);
        require(fileSize(catFile) == size, "cat copied the wrong number of bytes");
        unlink(catFile.c_str());
        double o = listenerCopy(bytes, ourFile);
        require(fileSize(ourFile) == size, "the listener copied the wrong number of bytes");
        unlink(ourFile.c_str());
        bestCat = std::min(bestCat, c);
        bestOurs = std::min(bestOurs, o);
    }
    double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    std::printf("copy %lld bytes of child output into a file (best of 3)\n", size);
    std::printf("  cat (baseline)                     %8.1f MiB/s\n", mib / bestCat);
    std::printf("  KorrProcessImpl + ProcessListener  %8.1f MiB/s\n", mib / bestOurs);
    std::printf("  ratio (goal >= 0.80)               %8.2f\n", bestCat / bestOurs);

    const int runs = 300;
    std::vector<double> bare;
    std::vector<double> plain;
    std::vector<double> listened;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(bareSpawn());
        plain.push_back(processSpawn(false));
        listened.push_back(processSpawn(true));
    }
    double b = median(bare) * 1e6;
    double p = median(plain) * 1e6;
    double l = median(listened) * 1e6;
    std::printf("start to end of /bin/true (median of %d)\n", runs);
    std::printf("  posix_spawn + waitpid (baseline)   %8.0f us\n", b);
    std::printf("  KorrProcessImpl, no listeners      %8.0f us   ratio %.2f\n", p, p / b);
    std::printf("  KorrProcessImpl, two listeners     %8.0f us   ratio %.2f\n", l, l / b);
    return 0;
}
