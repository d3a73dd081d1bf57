#include "SafePath.h"

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d = new RasDescriptor("SafePath", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

std::string userText(uid_t uid)
{
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(4096);
    std::string id = std::to_string(uid);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return std::string(found->pw_name) + " (" + id + ")";
    }
    return id;
}

int refuse(int descriptor, int code, const std::string& path, const std::string& reason, std::string* refusal)
{
    if (descriptor >= 0) {
        ::close(descriptor);
    }
    if (refusal) {
        *refusal = NLS::format(rd(), "ZRKNV0189_UNSAFE_FILE", path, reason);
    }
    errno = code;
    return -1;
}

// Closes a descriptor without disturbing errno.
void quietClose(int descriptor)
{
    int saved = errno;
    ::close(descriptor);
    errno = saved;
}

} // namespace

bool SafePath::trustedDirectory(uid_t owner, mode_t mode)
{
    return (owner == 0 || owner == ::geteuid()) && (mode & (S_IWGRP | S_IWOTH)) == 0;
}

int SafePath::openDirectoryOf(const std::string& path, std::string* last, std::string* refusal)
{
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        absolute = KorrUtils::getCwd() + "/" + path;
    }
    std::vector<std::string> parts;
    for (std::string::size_type at = 0; at < absolute.size();) {
        std::string::size_type end = absolute.find('/', at);
        if (end == std::string::npos) {
            end = absolute.size();
        }
        if (end > at && absolute.compare(at, end - at, ".") != 0) {
            parts.push_back(absolute.substr(at, end - at));
        }
        at = end + 1;
    }
    if (parts.empty() || absolute.back() == '/') {
        return refuse(-1, EISDIR, path, KorrUtils::getLastErrorMessage(EISDIR), refusal);
    }
    int dir = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return -1;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        int next = ::openat(dir, parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && (errno == ENOTDIR || errno == ELOOP)) {
            struct stat here;
            struct stat entry;
            if (::fstatat(dir, parts[i].c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode) &&
                ::fstat(dir, &here) == 0) {
                if (!trustedDirectory(here.st_uid, here.st_mode)) {
                    return refuse(dir, ELOOP, path,
                                  "the symbolic link " + parts[i] + " lies in a directory that " +
                                      userText(here.st_uid) + " or other users can write",
                                  refusal);
                }
                // A link that root or this user placed where only they can write is theirs.
                next = ::openat(dir, parts[i].c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            } else {
                errno = ENOTDIR;
            }
        }
        quietClose(dir);
        if (next < 0) {
            return -1;
        }
        dir = next;
    }
    if (last) {
        *last = parts.back();
    }
    return dir;
}

int SafePath::open(const std::string& path, int flags, mode_t mode, bool* created, std::string* refusal)
{
    if (created) {
        *created = false;
    }
    std::string name;
    int dir = openDirectoryOf(path, &name, refusal);
    if (dir < 0) {
        return -1;
    }
    const int base = (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    int fd = -1;
    bool made = false;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        if ((flags & O_CREAT) != 0) {
            fd = ::openat(dir, name.c_str(), base | O_CREAT | O_EXCL, mode);
            if (fd >= 0) {
                made = true;
                break;
            }
            if (errno != EEXIST || (flags & O_EXCL) != 0) {
                break;
            }
        }
        fd = ::openat(dir, name.c_str(), base);
        // Removed between the two opens: try again; any other failure is final.
        if (fd < 0 && (errno != ENOENT || (flags & O_CREAT) == 0)) {
            break;
        }
    }
    if (fd < 0 && errno == ELOOP) {
        return refuse(dir, ELOOP, path, "it is a symbolic link", refusal);
    }
    if (fd < 0 && errno == ENXIO) {
        return refuse(dir, ENXIO, path, "it is not a regular file", refusal);
    }
    if (fd < 0) {
        quietClose(dir);
        return -1;
    }
    // The directory stays open until the checks are done, so a new file that fails them is
    // removed from that directory, not through a path that may lead elsewhere by then.
    struct DirCloser {
        int fd;
        ~DirCloser() { quietClose(fd); }
    } closeDir{dir};
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        quietClose(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        return refuse(fd, EPERM, path, "it is not a regular file", refusal);
    }
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
        return refuse(fd, EPERM, path, "it belongs to " + userText(st.st_uid), refusal);
    }
    if (st.st_nlink != 1) {
        return refuse(fd, EPERM, path, "it has " + std::to_string(st.st_nlink) + " hard links", refusal);
    }
    if (made || (st.st_mode & 07777 & ~mode) != 0) {
        // A new file: the umask may have narrowed it. An old one: take back what it grants too much.
        if (::fchmod(fd, mode) != 0 && (made || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
            int code = errno;
            if (made) {
                ::unlinkat(dir, name.c_str(), 0);
            }
            return refuse(fd, code, path, KorrUtils::getLastErrorMessage(code), refusal);
        }
    }
    int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 ||
        ((flags & O_TRUNC) != 0 && ::ftruncate(fd, 0) != 0)) {
        quietClose(fd);
        return -1;
    }
    if (created) {
        *created = made;
    }
    return fd;
}
