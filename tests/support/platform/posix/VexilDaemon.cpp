#include "VexilDaemon.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
// The daemon serves once a connection succeeds (the socket file exists before it listens).
bool accepts(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return ok;
}
} // namespace

VexilDaemon::VexilDaemon(const std::string& simDir) : dir(simDir), pid(-1)
{
    setenv("VEXIL_SIM_DIR", dir.c_str(), 1);
}

VexilDaemon::~VexilDaemon() { stop(); }

bool VexilDaemon::start(const std::string& name, bool refusing)
{
    stop();
    std::string program = std::string(OSTARA_TOOLS_DIR) + "/vexil-qmgr";
    std::string socketPath = dir + "/" + name + ".qm";
    unlink(socketPath.c_str());
    pid = fork();
    if (pid == 0) {
        setenv("VEXIL_SIM_DIR", dir.c_str(), 1);
        if (refusing) {
            execl(program.c_str(), program.c_str(), name.c_str(), "--refuse", static_cast<char*>(nullptr));
        } else {
            execl(program.c_str(), program.c_str(), name.c_str(), static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (accepts(socketPath)) {
            return true;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void VexilDaemon::stop()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
    }
}

void VexilDaemon::refuse(bool on)
{
    if (pid > 0) {
        kill(pid, on ? SIGUSR1 : SIGUSR2);
    }
}
