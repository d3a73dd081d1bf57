#include "DrillSupport.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace drill {

namespace {

std::vector<char*> pointers(std::vector<std::string>& words)
{
    std::vector<char*> p;
    for (std::string& w : words) {
        p.push_back(&w[0]);
    }
    p.push_back(nullptr);
    return p;
}

long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int decode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

} // namespace

bool eventually(const std::function<bool()>& done, int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int occurrences(const std::string& text, const std::string& word)
{
    int n = 0;
    for (std::string::size_type at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++n;
    }
    return n;
}

// Sanitizer builds run several times slower and keep freed memory in quarantine for a while.
#ifdef OSTARA_DRILL_SANITIZED
const int SANITIZED_SECONDS = 20;
const long SANITIZED_SLACK_KB = 131072;
#endif

int seconds(int fallback)
{
    const char* value = std::getenv("OSTARA_DRILL_SECONDS");
    int n = value ? std::atoi(value) : 0;
#ifdef OSTARA_DRILL_SANITIZED
    fallback = fallback < SANITIZED_SECONDS ? fallback : SANITIZED_SECONDS;
#endif
    return n > 0 ? n : fallback;
}

long rssSlackKb(long fallback)
{
    const char* value = std::getenv("OSTARA_DRILL_RSS_SLACK_KB");
    long n = value ? std::atol(value) : 0;
#ifdef OSTARA_DRILL_SANITIZED
    fallback = fallback > SANITIZED_SLACK_KB ? fallback : SANITIZED_SLACK_KB;
#endif
    return n > 0 ? n : fallback;
}

long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

int descriptors(pid_t pid)
{
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!dir) {
        return -1;
    }
    int n = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++n;
        }
    }
    closedir(dir);
    return n;
}

bool alive(pid_t pid)
{
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::string::size_type close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}

Program::Program(const std::vector<std::string>& argv, const std::string& outputFile) : child(-1), status(-1)
{
    std::vector<std::string> words(argv);
    std::vector<char*> args = pointers(words);
    child = fork();
    if (child == 0) {
        setpgid(0, 0);
        int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
            close(out);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    if (child > 0) {
        setpgid(child, child);   // also from here, so the group exists before anyone signals it
    }
}

Program::~Program()
{
    killGroup();
    wait(10000);
}

void Program::signal(int number)
{
    if (child > 0 && status < 0) {
        kill(child, number);
    }
}

int Program::wait(int ms)
{
    if (child <= 0) {
        return 127;
    }
    long long deadline = nowMs() + ms;
    while (status < 0) {
        int raw = 0;
        pid_t got = waitpid(child, &raw, WNOHANG);
        if (got == child) {
            status = decode(raw);
            break;
        }
        if (nowMs() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

bool Program::running() { return wait(0) < 0; }

// The group outlives its leader: an agent left by a killed service is still in it.
void Program::killGroup()
{
    if (child > 0) {
        kill(-child, SIGKILL);
    }
}

std::vector<ToolResult> runAll(const std::vector<std::vector<std::string>>& commands, int deadlineMs)
{
    struct Running {
        pid_t pid;
        int out;
        bool done;
        bool eof;
    };
    std::vector<Running> running;
    std::vector<ToolResult> results(commands.size(), ToolResult{-1, ""});
    for (const std::vector<std::string>& command : commands) {
        std::vector<std::string> words(command);
        std::vector<char*> args = pointers(words);
        int fds[2] = {-1, -1};
        if (pipe2(fds, O_CLOEXEC) != 0) {
            running.push_back(Running{-1, -1, true, true});
            continue;
        }
        pid_t pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            execv(args[0], args.data());
            _exit(127);
        }
        close(fds[1]);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        running.push_back(Running{pid, fds[0], pid < 0, pid < 0});
    }
    long long deadline = nowMs() + deadlineMs;
    std::size_t left = 0;
    for (const Running& r : running) {
        left += r.done ? 0 : 1;
    }
    while (left > 0 && nowMs() < deadline) {
        bool progress = false;
        for (std::size_t i = 0; i < running.size(); ++i) {
            Running& r = running[i];
            if (r.done) {
                continue;
            }
            char buffer[4096];
            ssize_t n;
            while (!r.eof && (n = read(r.out, buffer, sizeof buffer)) >= 0) {
                if (n == 0) {
                    r.eof = true;
                    break;
                }
                results[i].output.append(buffer, static_cast<std::size_t>(n));
                progress = true;
            }
            int raw = 0;
            if (r.eof && waitpid(r.pid, &raw, WNOHANG) == r.pid) {
                results[i].status = decode(raw);
                close(r.out);
                r.done = true;
                --left;
                progress = true;
            }
        }
        if (!progress) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // Whatever has not ended by the deadline hung: it is killed and reads -1.
    for (Running& r : running) {
        if (!r.done && r.pid > 0) {
            kill(r.pid, SIGKILL);
            waitpid(r.pid, nullptr, 0);
            close(r.out);
        }
    }
    return results;
}

ToolResult runTool(const std::vector<std::string>& argv, int deadlineMs) { return runAll({argv}, deadlineMs)[0]; }

Site::Site() : daemon(sim.path())
{
    // Every drill has its own pipes and queue managers; children inherit both.
    setenv("VELBRIX_IPC_DIR", ipc.path().c_str(), 1);
    setenv("VEXIL_SIM_DIR", sim.path().c_str(), 1);
    std::filesystem::create_directories(work());
    std::filesystem::create_directories(serviceDir());
    name = "drill" + std::to_string(getpid());
}

// A sanitizer report of the last service run fails the drill even when the service went on.
Site::~Site()
{
    daemon.stop();
    for (const std::string& text : {serviceStderr(), readFile(root.file("service.out"))}) {
        if (text.find("Sanitizer") != std::string::npos || text.find("runtime error:") != std::string::npos) {
            ADD_FAILURE() << "sanitizer report from the service:\n" << text;
        }
    }
}

void Site::properties(const std::string& text) const
{
    std::ofstream(propertiesPath(), std::ios::trunc) << text;
}

std::vector<std::string> Site::serviceArgs(const std::vector<std::string>& agentArgs, const std::string& productRoot) const
{
    std::vector<std::string> all = {std::string(OSTARA_BIN_DIR) + "/ostarapcservice",
                                    name,
                                    serviceDir(),
                                    "Info",
                                    "-directory=" + work(),
                                    "-appId=A",
                                    "-properties=" + propertiesPath(),
                                    "-Dcom.quillon.velbrix.product.root=" + productRoot,
                                    std::string(OSTARA_TOOLS_DIR) + "/fakejdk/bin/java"};
    all.insert(all.end(), agentArgs.begin(), agentArgs.end());
    return all;
}

Program* Site::startService(const std::vector<std::string>& agentArgs, const std::string& productRoot)
{
    return new Program(serviceArgs(agentArgs, productRoot), root.file("service.out"));
}

ToolResult Site::ostaractl(const std::vector<std::string>& args, int deadlineMs) const
{
    std::vector<std::string> all = {std::string(OSTARA_BIN_DIR) + "/ostaractl", "A"};
    all.insert(all.end(), args.begin(), args.end());
    return runTool(all, deadlineMs);
}

std::string Site::eventLog() const
{
    std::string text;
    std::error_code ignored;
    for (auto it = std::filesystem::directory_iterator(work() + "/logs", ignored);
         it != std::filesystem::directory_iterator(); ++it) {
        if (it->path().filename().string().compare(0, 7, "pcevent") == 0) {
            text += readFile(it->path().string());
        }
    }
    return text;
}

int Site::agentRuns() const { return occurrences(readFile(work() + "/sample-agent.log"), "run="); }

pid_t Site::agentPid(int n) const
{
    std::istringstream in(readFile(work() + "/sample-agent.log"));
    int seen = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 4, "run=") == 0 && ++seen == n) {
            std::string::size_type at = line.find("pid=");
            return at == std::string::npos ? -1 : static_cast<pid_t>(std::atol(line.c_str() + at + 4));
        }
    }
    return -1;
}

void Site::agentControl(const std::string& text) const
{
    std::ofstream(work() + "/sample-agent.control", std::ios::trunc) << text;
}

} // namespace drill
