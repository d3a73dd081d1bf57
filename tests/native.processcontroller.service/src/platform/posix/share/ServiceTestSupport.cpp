#include "ServiceTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "TestChild.h"

extern char** environ;

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> p;
    for (auto& s : strings) {
        p.push_back(&s[0]);
    }
    p.push_back(nullptr);
    return p;
}

int bindDatagram(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

} // namespace

ProgramRun::ProgramRun(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    : child(-1), out(-1), reaped(false)
{
    std::vector<std::string> envStrings(env);
    for (char** e = environ; *e; ++e) {
        std::string name = std::string(*e).substr(0, std::string(*e).find('=') + 1);
        if (std::none_of(env.begin(), env.end(), [&](const std::string& v) { return v.compare(0, name.size(), name) == 0; })) {
            envStrings.push_back(*e);
        }
    }
    std::vector<std::string> args(argv);
    std::vector<char*> argp = pointers(args), envp = pointers(envStrings);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    int rc = posix_spawn(&child, args[0].c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    out = ends[0];
    if (rc != 0) {
        throw std::runtime_error("posix_spawn failed for " + args[0]);
    }
}

ProgramRun::~ProgramRun()
{
    wait(0);
    close(out);
}

void ProgramRun::signal(int number)
{
    if (!reaped) {
        kill(child, number);
    }
}

void ProgramRun::drain(int timeoutMs)
{
    pollfd p = {out, POLLIN, 0};
    char buffer[4096];
    ssize_t n;
    while (poll(&p, 1, timeoutMs) > 0 && (n = read(out, buffer, sizeof buffer)) > 0) {
        captured.append(buffer, static_cast<size_t>(n));
        timeoutMs = 0;
    }
}

int ProgramRun::wait(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (!reaped) {
        if (waitpid(child, &status, WNOHANG) == child) {
            reaped = true;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            reaped = true;
            drain(0);
            return -1;
        } else {
            drain(10);
        }
    }
    drain(0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

NotifySocket::NotifySocket(const std::string& path) : socketPath(path), fd(bindDatagram(path))
{
    if (fd < 0) {
        throw std::runtime_error("cannot bind " + path);
    }
}

NotifySocket::~NotifySocket() { close(fd); }

std::string NotifySocket::receive(int timeoutMs)
{
    pollfd p = {fd, POLLIN, 0};
    char buffer[4096];
    ssize_t n = poll(&p, 1, timeoutMs) > 0 ? recv(fd, buffer, sizeof buffer, 0) : 0;
    std::string message(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    if (!message.empty()) {
        received.push_back(message);
    }
    return message;
}

// Runs argv[2..] with /dev a fresh tmpfs in a mount namespace of its own, holding the usual
// character devices (bound from the real /dev) and a socket as /dev/log; writes each message
// received to argv[1]. The real /dev is never touched.
OSTARA_TEST_CHILD_ROLE(private_devlog)
{
    std::string logFile = argv[1];
    std::string realDev = logFile + ".dev";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mkdir(realDev.c_str(), 0700) != 0 || mount("/dev", realDev.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
        mount("tmpfs", "/dev", "tmpfs", 0, "mode=755") != 0) {
        return SYSLOG_UNAVAILABLE;
    }
    for (std::string node : {"null", "zero", "urandom"}) {
        close(open(("/dev/" + node).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        mount((realDev + "/" + node).c_str(), ("/dev/" + node).c_str(), nullptr, MS_BIND, nullptr);
    }
    int log = bindDatagram("/dev/log");
    std::vector<std::string> args(argv + 2, argv + argc);
    std::vector<char*> argp = pointers(args);
    unsetenv("OSTARA_TEST_CHILD");
    pid_t child = -1;
    if (log < 0 || posix_spawn(&child, args[0].c_str(), nullptr, nullptr, argp.data(), environ) != 0) {
        return SYSLOG_UNAVAILABLE;
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::ofstream out(logFile);
    char buffer[4096];
    ssize_t n;
    while ((n = recv(log, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        out << std::string(buffer, static_cast<size_t>(n)) << "\n";
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int runWithSyslog(const std::vector<std::string>& argv, const std::string& workDir, std::vector<std::string>& syslog)
{
    std::vector<std::string> all = {TestChild::selfPath(), workDir + "/syslog"};
    all.insert(all.end(), argv.begin(), argv.end());
    ProgramRun run(all, {"OSTARA_TEST_CHILD=private_devlog"});
    int status = run.wait(60000);
    syslog = readLines(workDir + "/syslog");
    return status;
}

std::string serviceProgram() { return std::string(OSTARA_BIN_DIR) + "/ostarapcservice"; }

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

int findLine(const std::vector<std::string>& lines, const std::string& text, int from)
{
    for (int i = from; i < static_cast<int>(lines.size()); ++i) {
        if (lines[i].find(text) != std::string::npos) {
            return i;
        }
    }
    return -1;
}
