// Simulated queue-manager daemon: serves <VEXIL_SIM_DIR>/<NAME>.qm until SIGTERM or SIGINT,
// answering each connection with accept, or refuse (--refuse, or after SIGUSR1; SIGUSR2
// accepts again). Prints "ready" on stdout once it serves.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "VexilSim.h"

namespace {

volatile sig_atomic_t stopping = 0;
volatile sig_atomic_t refusing = 0;

void onStop(int) { stopping = 1; }
void onRefuse(int) { refusing = 1; }
void onAccept(int) { refusing = 0; }

int usage(FILE* out, int code)
{
    std::fprintf(out, "Usage: vexil-qmgr NAME [--refuse]\n"
                      "Serves a simulated queue manager NAME in $VEXIL_SIM_DIR (default /tmp/.vexil-sim).\n"
                      "SIGUSR1 makes it refuse callers (reason 2035), SIGUSR2 accept again;\n"
                      "SIGTERM or SIGINT stop it.\n");
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return usage(stdout, 0);
        } else if (std::strcmp(argv[i], "--refuse") == 0) {
            refusing = 1;
        } else if (!name && argv[i][0] != '-') {
            name = argv[i];
        } else {
            std::fprintf(stderr, "vexil-qmgr: unexpected argument %s\n", argv[i]);
            return usage(stderr, 2);
        }
    }
    if (!vexilsim::validName(name)) {
        std::fprintf(stderr, "vexil-qmgr: a queue manager name (no '/', at most %zu characters) is required\n",
                     vexilsim::MAX_NAME);
        return usage(stderr, 2);
    }
    std::string dir = vexilsim::directory();
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "vexil-qmgr: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
        return 1;
    }
    std::string path = vexilsim::socketPath(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "vexil-qmgr: socket path too long: %s\n", path.c_str());
        return 1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    struct sigaction action {};
    action.sa_handler = onStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = onRefuse;
    sigaction(SIGUSR1, &action, nullptr);
    action.sa_handler = onAccept;
    sigaction(SIGUSR2, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(path.c_str()); // a socket left by a killed daemon
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 64) != 0) {
        std::fprintf(stderr, "vexil-qmgr: cannot serve %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("ready %s\n", path.c_str());
    std::fflush(stdout);
    while (!stopping) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        char answer = refusing ? vexilsim::REFUSE : vexilsim::ACCEPT;
        ssize_t ignored = write(client, &answer, 1);
        (void)ignored;
        close(client);
    }
    close(listener);
    unlink(path.c_str());
    return 0;
}
