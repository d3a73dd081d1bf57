// Simulated queue-manager client library: a connect succeeds while a vexil-qmgr daemon of
// that name runs and accepts. Completion code 0, or 2 with reason 2059 (not running),
// 2058 (empty or bad name) or 2035 (the daemon refuses the caller).
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "VexilSim.h"

namespace {

const std::int32_t CC_OK = 0;
const std::int32_t CC_FAILED = 2;
const std::int32_t RC_NOT_AUTHORIZED = 2035;
const std::int32_t RC_HCONN_ERROR = 2018;
const std::int32_t RC_NAME_ERROR = 2058;
const std::int32_t RC_NOT_AVAILABLE = 2059;

void result(std::int32_t* cc, std::int32_t* reason, std::int32_t c, std::int32_t r)
{
    if (cc) {
        *cc = c;
    }
    if (reason) {
        *reason = r;
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) void TARNCONN(const char* name, std::int32_t* hconn,
                                                                std::int32_t* cc, std::int32_t* reason)
{
    if (!vexilsim::validName(name)) {
        result(cc, reason, CC_FAILED, RC_NAME_ERROR);
        return;
    }
    std::string path = vexilsim::socketPath(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        result(cc, reason, CC_FAILED, RC_NAME_ERROR);
        return;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        result(cc, reason, CC_FAILED, RC_NOT_AVAILABLE);
        return;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        result(cc, reason, CC_FAILED, RC_NOT_AVAILABLE);
        return;
    }
    pollfd p{fd, POLLIN, 0};
    char answer = 0;
    if (poll(&p, 1, 5000) != 1 || read(fd, &answer, 1) != 1) {
        close(fd);
        result(cc, reason, CC_FAILED, RC_NOT_AVAILABLE);
        return;
    }
    if (answer != vexilsim::ACCEPT) {
        close(fd);
        result(cc, reason, CC_FAILED, answer == vexilsim::REFUSE ? RC_NOT_AUTHORIZED : RC_NOT_AVAILABLE);
        return;
    }
    if (hconn) {
        *hconn = fd + 1; // 0 stays "no connection"
    }
    result(cc, reason, CC_OK, 0);
}

extern "C" __attribute__((visibility("default"))) void TARNDISC(std::int32_t* hconn, std::int32_t* cc,
                                                                std::int32_t* reason)
{
    if (!hconn || *hconn <= 0) {
        result(cc, reason, CC_FAILED, RC_HCONN_ERROR);
        return;
    }
    close(*hconn - 1);
    *hconn = 0;
    result(cc, reason, CC_OK, 0);
}
