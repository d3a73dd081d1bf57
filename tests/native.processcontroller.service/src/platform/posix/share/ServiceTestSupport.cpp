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

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "TestChild.h"

extern char** environ;

namespace {

long long nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> p;
    for (auto& s : strings) {
        p.push_back(&s[0]);
    }
    p.push_back(nullptr);
    return p;
}

sockaddr_un addressOf(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

int bindDatagram(const std::string& path)
{
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = addressOf(path);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

} // namespace

ProgramRun::ProgramRun(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    : child(-1), out(-1), reaped(false)
{
    std::map<std::string, std::string> variables;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        variables[entry.substr(0, entry.find('='))] = entry;
    }
    for (const std::string& entry : env) {
        std::string name = entry.substr(0, entry.find('='));
        if (entry.size() == name.size() + 1) {
            variables.erase(name);
        } else {
            variables[name] = entry;
        }
    }
    std::vector<std::string> envStrings;
    for (auto& v : variables) {
        envStrings.push_back(v.second);
    }
    std::vector<std::string> args(argv);
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(envStrings);

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
        close(out);
        throw std::runtime_error("posix_spawn failed for " + args[0]);
    }
}

ProgramRun::~ProgramRun()
{
    if (!reaped) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
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
    while (poll(&p, 1, timeoutMs) > 0) {
        char buffer[4096];
        ssize_t n = read(out, buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        captured.append(buffer, static_cast<size_t>(n));
        timeoutMs = 0;
    }
}

int ProgramRun::wait(int timeoutMs)
{
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            reaped = true;
            drain(0);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (nowMs() >= deadline) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            reaped = true;
            drain(0);
            return -1;
        }
        drain(10);
    }
}

const std::string& ProgramRun::output()
{
    drain(0);
    return captured;
}

NotifySocket::NotifySocket(const std::string& path) : socketPath(path), fd(bindDatagram(path))
{
    if (fd < 0) {
        throw std::runtime_error("cannot bind " + path);
    }
}

NotifySocket::~NotifySocket()
{
    close(fd);
    unlink(socketPath.c_str());
}

std::string NotifySocket::receive(int timeoutMs)
{
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) {
        return std::string();
    }
    char buffer[4096];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

bool NotifySocket::waitFor(const std::string& text, int timeoutMs)
{
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
        long long left = deadline - nowMs();
        if (left <= 0) {
            return false;
        }
        std::string message = receive(static_cast<int>(left));
        if (!message.empty()) {
            received.push_back(message);
            if (message.find(text) != std::string::npos) {
                return true;
            }
        }
    }
}

std::vector<std::string> underPrivateDevLog(const std::string& logFile, const std::vector<std::string>& argv)
{
    std::vector<std::string> all = {TestChild::selfPath(), logFile};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
}

// Runs argv[2..] with a datagram socket as /dev/log: in a mount namespace of its own, /dev
// becomes a fresh tmpfs holding the usual character devices (bound from the real /dev) and
// the socket. The real /dev is never touched.
OSTARA_TEST_CHILD_ROLE(private_devlog)
{
    if (argc < 3) {
        return 2;
    }
    std::string logFile = argv[1];
    std::string parent = logFile.substr(0, logFile.rfind('/'));
    std::string realDev = parent + "/realdev";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mkdir(realDev.c_str(), 0700) != 0 || mount("/dev", realDev.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
        mount("tmpfs", "/dev", "tmpfs", 0, "mode=755") != 0) {
        return SYSLOG_ROLE_UNAVAILABLE;
    }
    for (const char* node : {"null", "zero", "random", "urandom", "full"}) {
        std::string target = std::string("/dev/") + node;
        int fd = open(target.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
        }
        mount((realDev + "/" + node).c_str(), target.c_str(), nullptr, MS_BIND, nullptr);
    }
    symlink("/proc/self/fd", "/dev/fd");
    int log = bindDatagram("/dev/log");
    if (log < 0) {
        return SYSLOG_ROLE_UNAVAILABLE;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    std::vector<char*> argp = pointers(args);
    const char* grandchild = getenv("OSTARA_TEST_GRANDCHILD");
    if (grandchild && *grandchild) {
        setenv("OSTARA_TEST_CHILD", grandchild, 1);
    } else {
        unsetenv("OSTARA_TEST_CHILD");
    }
    pid_t child = -1;
    if (posix_spawn(&child, args[0].c_str(), nullptr, nullptr, argp.data(), environ) != 0) {
        return 127;
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

std::string serviceProgram() { return std::string(OSTARA_BIN_DIR) + "/ostarapcservice"; }

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

int findLine(const std::vector<std::string>& lines, const std::string& text, int from)
{
    for (int i = from < 0 ? 0 : from; i < static_cast<int>(lines.size()); ++i) {
        if (lines[i].find(text) != std::string::npos) {
            return i;
        }
    }
    return -1;
}
