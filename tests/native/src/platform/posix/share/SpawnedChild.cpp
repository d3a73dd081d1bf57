#include "SpawnedChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
} // namespace

SpawnedChild::SpawnedChild(const std::string& role, const std::vector<std::string>& args)
    : child(-1), out(-1), reaped(false)
{
    std::string self = TestChild::selfPath();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::string(*e).compare(0, 18, "OSTARA_TEST_CHILD=") != 0) {
            env.push_back(*e);
        }
    }
    env.push_back("OSTARA_TEST_CHILD=" + role);
    std::vector<char*> envp;
    for (auto& s : env) {
        envp.push_back(&s[0]);
    }
    envp.push_back(nullptr);
    std::vector<std::string> all(1, self);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : all) {
        argv.push_back(&s[0]);
    }
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    int rc = posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    out = pipeEnds[0];
    if (rc != 0) {
        close(out);
        throw std::runtime_error("posix_spawn failed");
    }
}

SpawnedChild::~SpawnedChild()
{
    if (!reaped) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    close(out);
}

bool SpawnedChild::readSome(int timeoutMs)
{
    pollfd p = {out, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    char buffer[512];
    ssize_t n = read(out, buffer, sizeof buffer);
    if (n <= 0) {
        return false;
    }
    captured.append(buffer, static_cast<size_t>(n));
    return true;
}

bool SpawnedChild::waitForOutput(const std::string& text, int timeoutMs)
{
    long long deadline = nowMs() + timeoutMs;
    while (captured.find(text) == std::string::npos) {
        long long left = deadline - nowMs();
        if (left <= 0 || !readSome(static_cast<int>(left))) {
            return captured.find(text) != std::string::npos;
        }
    }
    return true;
}

int SpawnedChild::wait(int timeoutMs)
{
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            reaped = true;
            while (readSome(0)) {
            }
            return status;
        }
        if (nowMs() >= deadline) {
            return -1;
        }
        if (!readSome(10)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}
