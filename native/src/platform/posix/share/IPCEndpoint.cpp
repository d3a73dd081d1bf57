#include "IPCEndpoint.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "KorrException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("IPCEndpoint", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

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
// Never waits: a lock held elsewhere is reported. A name that this user did not create (not a
// regular file, or another user's) is not even opened.
class NameLock
{
public:
    NameLock(const std::string& name, const std::string& path) : fd(-1), code(0)
    {
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
            code = EPERM;
            message = NLS::format(rd(), "ZRKNV0187_IPC_NAME_SQUATTED", name, path,
                                  S_ISREG(st.st_mode) ? "it belongs to " + IPCEndpoint::userText(st.st_uid)
                                                      : std::string("it is not a regular file"));
            return;
        }
        std::string refusal;
        fd = KorrUtils::openSafely(path, O_RDONLY | O_CREAT, S_IRUSR | S_IWUSR, nullptr, &refusal);
        if (fd < 0) {
            code = errno;
            message = NLS::format(rd(), "ZRKNV0087_CREATE_NAMED_PIPE_FAILED", name,
                                  refusal.empty() ? KorrUtils::getLastErrorMessage(code) : refusal);
            return;
        }
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EINTR) {
                code = errno;
                message = code == EWOULDBLOCK ? NLS::format(rd(), "ZRKNV0188_IPC_NAME_LOCKED", name, path)
                                              : NLS::format(rd(), "ZRKNV0087_CREATE_NAMED_PIPE_FAILED", name,
                                                            KorrUtils::getLastErrorMessage(code));
                ::close(fd);
                fd = -1;
                return;
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
    int error() const { return code; }
    const std::string& errorMessage() const { return message; }

private:
    NameLock(const NameLock&);
    NameLock& operator=(const NameLock&);
    int fd;
    int code;
    std::string message;
};

std::string ownerOf(const struct stat& st) { return "owned by " + IPCEndpoint::userText(st.st_uid); }

} // namespace

const char* const IPCEndpoint::ROOT_DIRECTORY = "/run/velbrix-ipc";
const char* const IPCEndpoint::USER_DIRECTORY_PREFIX = "/tmp/.velbrix-ipc-";

std::string IPCEndpoint::directory(uid_t serverUid)
{
    std::string dir = KorrUtils::getenv("VELBRIX_IPC_DIR");
    if (dir.empty()) {
        return serverUid == 0 ? std::string(ROOT_DIRECTORY) : USER_DIRECTORY_PREFIX + std::to_string(serverUid);
    }
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

std::string IPCEndpoint::userText(uid_t uid)
{
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        return std::string(found->pw_name) + " (" + std::to_string(uid) + ")";
    }
    return std::to_string(uid);
}

// The default directories are made by their user, root's 0755 and another user's 0700, and
// refused when they are links, not that user's or writable by group or others. A directory
// named by $VELBRIX_IPC_DIR may be shared: root's or this user's, and sticky when others can
// write it.
int IPCEndpoint::prepareDirectory(const std::string& dir, std::string& reason)
{
    const bool shared = !KorrUtils::getenv("VELBRIX_IPC_DIR").empty();
    const uid_t self = ::geteuid();
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            int code = errno;
            reason = KorrUtils::getLastErrorMessage(code);
            return code;
        }
        const mode_t mode = shared ? 01777 : self == 0 ? 0755 : 0700;
        if (::mkdir(dir.c_str(), mode) == 0) {
            ::chmod(dir.c_str(), mode); // the umask took bits away
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
    if (S_ISLNK(st.st_mode)) {
        reason = "it is a symbolic link, " + ownerOf(st);
        return ELOOP;
    }
    if (!S_ISDIR(st.st_mode)) {
        reason = KorrUtils::getLastErrorMessage(ENOTDIR);
        return ENOTDIR;
    }
    if (shared) {
        if (st.st_uid != 0 && st.st_uid != self) {
            reason = ownerOf(st) + ", neither root nor this user";
            return EPERM;
        }
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
            reason = "writable by other users without the sticky bit";
            return EPERM;
        }
        return 0;
    }
    if (st.st_uid != self) {
        reason = ownerOf(st) + ", not by " + userText(self);
        return EPERM;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        reason = "writable by group or other users, " + ownerOf(st);
        return EPERM;
    }
    return 0;
}

std::size_t IPCEndpoint::maxPathLength() { return sizeof(sockaddr_un().sun_path) - 1; }

std::string IPCEndpoint::socketPath(const std::string& serviceName, uid_t serverUid)
{
    std::string dir = directory(serverUid);
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
        path = socketPath(serviceName, ::geteuid());
    } catch (const KorrException& e) {
        errorMessage = e.getMessage();
        return EINVAL;
    }
    std::string dir = directory(::geteuid());
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
    NameLock lock(serviceName, path + ".lock");
    if (!lock.held()) {
        errorMessage = lock.errorMessage();
        close();
        return lock.error();
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
        if (::lstat(path.c_str(), &st) != 0) {
            return fail(EEXIST, errorMessage, KorrUtils::getLastErrorMessage(EEXIST));
        }
        // Someone else's file, or no socket at all: named, and never probed nor removed.
        if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
            errorMessage = NLS::format(rd(), "ZRKNV0187_IPC_NAME_SQUATTED", serviceName, path,
                                       S_ISSOCK(st.st_mode) ? "it belongs to " + userText(st.st_uid)
                                                            : std::string("it is not a socket, ") + ownerOf(st));
            close();
            return EADDRINUSE;
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
        // Remove the file only if it is still ours: a later server may have replaced it. The
        // lock is tried, never waited for; the identity check alone decides when it is busy.
        NameLock lock(serviceName, path + ".lock");
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
