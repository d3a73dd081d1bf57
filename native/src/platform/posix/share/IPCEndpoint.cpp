#include "IPCEndpoint.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "KorrException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("IPCEndpoint", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

bool fillAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Holds <ipc dir>/NAME.lock exclusively while a server decides about and binds its socket.
class NameLock
{
public:
    explicit NameLock(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
    {
        if (fd >= 0) {
            while (::flock(fd, LOCK_EX) != 0) {
                if (errno != EINTR) {
                    int saved = errno;
                    ::close(fd);
                    fd = -1;
                    errno = saved;
                    break;
                }
            }
        }
    }
    ~NameLock()
    {
        if (fd >= 0) {
            ::close(fd); // releases the lock
        }
    }
    bool held() const { return fd >= 0; }

private:
    NameLock(const NameLock&);
    NameLock& operator=(const NameLock&);
    int fd;
};

// Makes the directory if it is missing (mode 1777, so that every user's servers can live in
// it) and refuses one that another user could use to remove or replace our socket.
int prepareDirectory(const std::string& dir, std::string& reason)
{
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            int code = errno;
            reason = KorrUtils::getLastErrorMessage(code);
            return code;
        }
        if (::mkdir(dir.c_str(), 01777) == 0) {
            ::chmod(dir.c_str(), 01777); // the umask took bits away
        } else if (errno != EEXIST) {
            int code = errno;
            reason = KorrUtils::getLastErrorMessage(code);
            return code;
        }
        if (::lstat(dir.c_str(), &st) != 0) {
            int code = errno;
            reason = KorrUtils::getLastErrorMessage(code);
            return code;
        }
    }
    if (!S_ISDIR(st.st_mode)) {
        reason = KorrUtils::getLastErrorMessage(ENOTDIR);
        return ENOTDIR;
    }
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
        reason = "owned by user id " + std::to_string(st.st_uid) + ", neither root nor this user";
        return EPERM;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
        reason = "writable by other users without the sticky bit";
        return EPERM;
    }
    return 0;
}

} // namespace

const char* const IPCEndpoint::DEFAULT_DIRECTORY = "/tmp/.velbrix-ipc";

std::string IPCEndpoint::directory()
{
    std::string dir = KorrUtils::getenv("VELBRIX_IPC_DIR");
    if (dir.empty()) {
        return DEFAULT_DIRECTORY;
    }
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

std::size_t IPCEndpoint::maxPathLength() { return sizeof(sockaddr_un().sun_path) - 1; }

std::string IPCEndpoint::socketPath(const std::string& serviceName)
{
    std::string dir = directory();
    std::string path = (dir == "/" ? dir : dir + "/") + serviceName;
    if (serviceName.empty() || serviceName == "." || serviceName == ".." ||
        serviceName.find('/') != std::string::npos || serviceName.find('\0') != std::string::npos ||
        path.size() > maxPathLength()) {
        KorrException e(NLS::format(rd(), "ZRKNV0178_INVALID_IPC_NAME", serviceName, path,
                                    std::to_string(maxPathLength())));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "socketPath", &e);
        }
        throw e;
    }
    return path;
}

bool IPCEndpoint::peerUid(int socket, uid_t& uid)
{
    struct ucred credentials;
    socklen_t size = sizeof credentials;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) {
        return false;
    }
    uid = credentials.uid;
    return true;
}

IPCEndpoint::IPCEndpoint(const std::string& name)
    : serviceName(name), fd(-1), bound(false), boundDevice(0), boundInode(0)
{
}

IPCEndpoint::~IPCEndpoint() { close(); }

// Never called with bound set while the name lock is held: close() would wait for it.
int IPCEndpoint::fail(int code, std::string& errorMessage, const std::string& reason)
{
    errorMessage = NLS::format(rd(), "ZRKNV0087_CREATE_NAMED_PIPE_FAILED", serviceName, reason);
    close();
    return code;
}

int IPCEndpoint::open(std::string& errorMessage)
{
    try {
        path = socketPath(serviceName);
    } catch (const KorrException& e) {
        errorMessage = e.getMessage();
        return EINVAL;
    }
    std::string dir = directory();
    std::string reason;
    int code = prepareDirectory(dir, reason);
    if (code != 0) {
        errorMessage = NLS::format(rd(), "ZRKNV0180_IPC_DIRECTORY_ERROR", dir, reason);
        return code;
    }
    fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        code = errno;
        return fail(code, errorMessage, KorrUtils::getLastErrorMessage(code));
    }
    NameLock lock(path + ".lock");
    if (!lock.held()) {
        code = errno;
        return fail(code, errorMessage, KorrUtils::getLastErrorMessage(code));
    }
    return bindOrTakeOver(errorMessage);
}

// Runs under the name lock, so no other server of this name binds or removes in between.
int IPCEndpoint::bindOrTakeOver(std::string& errorMessage)
{
    sockaddr_un address;
    fillAddress(path, address);
    for (int attempt = 0;; ++attempt) {
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            break;
        }
        int code = errno;
        if (code != EADDRINUSE || attempt > 0) {
            return fail(code, errorMessage, KorrUtils::getLastErrorMessage(code));
        }
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
            return fail(EEXIST, errorMessage, KorrUtils::getLastErrorMessage(EEXIST));
        }
        // Only a socket that refuses connections is stale: anything that answers, is busy
        // or is out of our reach belongs to someone else and is left alone.
        int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (probe < 0) {
            code = errno;
            return fail(code, errorMessage, KorrUtils::getLastErrorMessage(code));
        }
        int probed = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
        ::close(probe);
        if (probed != ECONNREFUSED) {
            return fail(EADDRINUSE, errorMessage, KorrUtils::getLastErrorMessage(EADDRINUSE));
        }
        if (rd().isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "open", 2, "Removing stale socket", path.c_str());
        }
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            code = errno;
            return fail(code, errorMessage, KorrUtils::getLastErrorMessage(code));
        }
    }
    bound = true;
    struct stat st;
    // Mode 0600 before listen(): no client can connect while the file is still wider open.
    if (::chmod(path.c_str(), 0600) != 0 || ::lstat(path.c_str(), &st) != 0) {
        int code = errno;
        ::unlink(path.c_str());
        bound = false;
        return fail(code, errorMessage, KorrUtils::getLastErrorMessage(code));
    }
    boundDevice = st.st_dev;
    boundInode = st.st_ino;
    if (::listen(fd, SOMAXCONN) != 0) {
        int code = errno;
        ::unlink(path.c_str());
        bound = false;
        return fail(code, errorMessage, KorrUtils::getLastErrorMessage(code));
    }
    return 0;
}

void IPCEndpoint::close()
{
    if (bound) {
        // Remove the file only if it is still ours: a later server may have replaced it.
        NameLock lock(path + ".lock");
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && st.st_dev == boundDevice && st.st_ino == boundInode) {
            ::unlink(path.c_str());
        }
        bound = false;
    }
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}
