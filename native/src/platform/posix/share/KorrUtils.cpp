#include "KorrUtils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "FilePermissionsException.h"
#include "KorrException.h"
#include "KorrIOException.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "SafePath.h"
#include "SignalDispatcher.h"
#include "Trace.h"
#include "WindowsGroupType.h"

namespace {

const RasDescriptorSlot rdSlot("KorrUtils", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

std::string trim(const std::string& text)
{
    const char* blanks = " \t\r\n";
    std::string::size_type first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

const char* boolText(bool b) { return b ? "true" : "false"; }

void traceEntry(const char* method, const std::string& a, const char* b = nullptr, const char* c = nullptr)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), nullptr, method, b ? (c ? 3 : 2) : 1, a.c_str(), b, c);
    }
}

// Keeps errno across the trace, since callers read the failure of mkdirs through it.
void traceExit(const char* method, const std::string& result, const std::string& type)
{
    if (rd().isFlowOn()) {
        int saved = errno;
        Trace::traceMethodExit(rd(), nullptr, method, &result, type);
        errno = saved;
    }
}

void traceModerate(const char* method, const std::string& text)
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, nullptr, method, 1, text.c_str());
    }
}

template <class E> [[noreturn]] void throwTraced(const char* method, const E& e)
{
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    throw e;
}

// Looks a group up by name: 1 found (gid set), 0 no such group, -1 the lookup failed (errno set).
int findGroup(const std::string& name, gid_t& gid)
{
    std::vector<char> buffer(1024);
    for (;;) {
        struct group entry;
        struct group* result = nullptr;
        int rc = getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result) {
            gid = result->gr_gid;
            return 1;
        }
        // These codes mean "not found" for some name services.
        if (rc == 0 || rc == ENOENT || rc == ESRCH || rc == EBADF || rc == EPERM) {
            return 0;
        }
        errno = rc;
        return -1;
    }
}

// The "vexil" group, looked up once per process: each miss can cost milliseconds when the
// name service goes past local files, and a start sets the modes of several files. A failed
// lookup is not kept, so the next call tries again.
int findVexilGroup(gid_t& gid)
{
    static std::atomic<int> known(-1);
    static std::atomic<gid_t> vexilGid(0);
    int found = known.load(std::memory_order_acquire);
    if (found < 0) {
        gid_t looked = 0;
        found = findGroup("vexil", looked);
        if (found < 0) {
            return -1;
        }
        vexilGid.store(looked, std::memory_order_relaxed);
        known.store(found, std::memory_order_release);
    }
    gid = vexilGid.load(std::memory_order_relaxed);
    return found;
}

// The name of a group id, empty when it has none; false when the lookup failed (errno set).
bool groupName(gid_t gid, std::string& name)
{
    std::vector<char> buffer(1024);
    for (;;) {
        struct group entry;
        struct group* result = nullptr;
        int rc = getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &result);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result) {
            name = result->gr_name;
            return true;
        }
        name.clear();
        if (rc == 0 || rc == ENOENT || rc == ESRCH || rc == EBADF || rc == EPERM) {
            return true;
        }
        errno = rc;
        return false;
    }
}

// The mode bits that stand in for an access list (see KorrUtils.h). A group that is not
// required is left out when it does not exist or cannot be given to the path.
void setModes(const char* method, const std::string& path, const std::string& group, bool groupRequired,
              bool everyoneRead, bool everyoneWrite)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        throwTraced(method, KorrIOException(NLS::format(rd(), "ZRKNV0031_SETFILESECURITY_ERROR",
                                                  KorrUtils::getLastErrorMessage(), path)));
    }
    const bool directory = S_ISDIR(st.st_mode);
    bool withGroup = false;
    if (!group.empty()) {
        gid_t gid = 0;
        int found = group == "vexil" ? findVexilGroup(gid) : findGroup(group, gid);
        if (found < 0 || (found == 0 && groupRequired)) {
            std::string reason = found < 0 ? KorrUtils::getLastErrorMessage() : std::string("no such group");
            throwTraced(method, KorrIOException(NLS::format(rd(), "ZRKNV0172_LOOKUPACCOUNTNAME_ERROR", reason, group)));
        }
        if (found == 0) {
            traceModerate(method, "No group " + group + " on this system; left out of " + path);
        } else if (st.st_gid == gid || ::chown(path.c_str(), static_cast<uid_t>(-1), gid) == 0) {
            withGroup = true;
        } else if (groupRequired) {
            throwTraced(method, KorrIOException(NLS::format(rd(), "ZRKNV0031_SETFILESECURITY_ERROR",
                                                      KorrUtils::getLastErrorMessage(), path)));
        } else {
            traceModerate(method, "Unable to give " + path + " to group " + group + ": " +
                                      KorrUtils::getLastErrorMessage());
        }
    }
    mode_t mode = S_IRUSR | S_IWUSR | (directory ? S_IXUSR : (st.st_mode & S_IXUSR));
    if (withGroup) {
        mode |= S_IRGRP | S_IWGRP | (directory ? (S_IXGRP | S_ISGID) : 0);
    }
    if (everyoneRead) {
        mode |= S_IROTH | (directory ? S_IXOTH : 0);
    }
    if (everyoneWrite) {
        // Sticky: others may add entries but not remove or replace those they do not own.
        mode |= S_IWOTH | (directory ? S_ISVTX : 0);
    }
    if (::chmod(path.c_str(), mode) != 0) {
        throwTraced(method, KorrIOException(NLS::format(rd(), "ZRKNV0031_SETFILESECURITY_ERROR",
                                                  KorrUtils::getLastErrorMessage(), path)));
    }
}

int makeDirectories(const std::string& path, bool canRead)
{
    if (path.empty()) {
        return 0;
    }
    // One retry after creating the parent: a directory removed again meanwhile fails.
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Created owner-only, so the level is never open to others before mkpriv runs.
        if (::mkdir(path.c_str(), S_IRWXU) == 0) {
            // Others may list the level when canRead, never write it: a directory open for
            // writing would let anyone plant links where this process writes its files. Changed
            // through a descriptor of the level itself: a parent of another user could have
            // put a link to somewhere else in its place meanwhile.
            int level = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (level < 0 || ::fchmod(level, canRead ? 0705 : 0700) != 0) {
                // The level stays owner-only, which is private enough.
                traceModerate("mkdirs", "Unable to set the mode of " + path + ": " + KorrUtils::getLastErrorMessage());
            }
            if (level >= 0) {
                ::close(level);
            }
            return 0;
        }
        int error = errno;
        if (error == EEXIST) {
            struct stat st;
            bool directory = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            errno = error;
            return directory ? 0 : -1;
        }
        if (error != ENOENT || attempt > 0) {
            return -1;
        }
        std::string parent = KorrUtils::getParent(path);
        if (parent.empty() || parent == path || makeDirectories(parent, canRead) != 0) {
            errno = error;
            return -1;
        }
    }
    return -1;
}

} // namespace

std::string KorrUtils::getenv(const std::string& name)
{
    const char* value = ::getenv(name.c_str());
    return value ? std::string(value).substr(0, 32767) : std::string();
}

void KorrUtils::setenv(const std::string& name, const std::string& value)
{
    if (::setenv(name.c_str(), value.c_str(), 1) != 0) {
        KorrException e(NLS::format(rd(), "ZRKNV0110_SETENV_FAILED", name, value, getLastErrorMessage()));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "setenv", &e);
        }
        throw e;
    }
}

std::string KorrUtils::getLastErrorMessage() { return getLastErrorMessage(errno); }

// The single place where operating-system error codes become text.
std::string KorrUtils::getLastErrorMessage(int code)
{
    char buffer[4096];
    buffer[0] = '\0';
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    std::string result = trim(text ? text : "");
    if (result.empty() || result.compare(0, 14, "Unknown error ") == 0) {
        return std::to_string(code);
    }
    return result;
}

std::string KorrUtils::getCwd()
{
    std::vector<char> buffer(4096);
    return ::getcwd(buffer.data(), buffer.size()) ? std::string(buffer.data()) : std::string();
}

std::string KorrUtils::getParent(const std::string& path)
{
    std::string::size_type at = path.find_last_of("/\\");
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

std::string KorrUtils::getName(const std::string& path)
{
    std::string::size_type at = path.find_last_of("/\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string KorrUtils::separator() { return "/"; }

std::string KorrUtils::pathSeparator() { return ":"; }

std::string KorrUtils::getZRKProdRoot()
{
    std::string root = getenv("ZRK_PROD");
    return root.empty() ? getenv("KORR_PROD") : root;
}

void KorrUtils::addBinDirToPath(const std::string& root)
{
    std::string bin = root + separator() + ".." + separator() + "bin64";
    std::string path = getenv("PATH");
    setenv("PATH", path.empty() ? bin : bin + pathSeparator() + path);
}

int KorrUtils::mkdirs(const std::string& path, bool canRead)
{
    traceEntry("mkdirs", path, boolText(canRead));
    int rc = makeDirectories(path, canRead);
    traceExit("mkdirs", std::to_string(rc), "int");
    return rc;
}

void KorrUtils::mkpriv(const std::string& path, bool everyoneRead, bool everyoneWrite)
{
    traceEntry("mkpriv", path, boolText(everyoneRead), boolText(everyoneWrite));
    setModes("mkpriv", path, "", false, everyoneRead, everyoneWrite);
    traceExit("mkpriv", "", "void");
}

void KorrUtils::mkGroupVexilWrite(const std::string& path, bool everyoneWrite)
{
    traceEntry("mkGroupVexilWrite", path, boolText(everyoneWrite));
    setModes("mkGroupVexilWrite", path, "vexil", false, true, everyoneWrite);
    traceExit("mkGroupVexilWrite", "", "void");
}

void KorrUtils::mkGroupWrite(const std::string& path, const std::string& group, bool flag)
{
    traceEntry("mkGroupWrite", path, group.c_str(), boolText(flag));
    if (group.empty()) {
        throwTraced("mkGroupWrite", KorrIOException(NLS::format(rd(), "ZRKNV0172_LOOKUPACCOUNTNAME_ERROR",
                                                          "no such group", group)));
    }
    setModes("mkGroupWrite", path, group, true, true, flag);
    traceExit("mkGroupWrite", "", "void");
}

std::string KorrUtils::getUID()
{
    traceEntry("getUID", "");
    std::string uid = std::to_string(::getuid());
    traceExit("getUID", uid, "std::string");
    return uid;
}

void KorrUtils::chmod(const std::string& path, int mode)
{
    std::string modeText = std::to_string(mode);
    traceEntry("chmod", path, modeText.c_str());
    if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) {
        throwTraced("chmod", KorrIOException(NLS::format(rd(), "ZRKNV0179_CHMOD_FAILED", path, getLastErrorMessage())));
    }
    traceExit("chmod", "", "void");
}

int KorrUtils::openSafely(const std::string& path, int flags, int mode, bool* created, std::string* refusal)
{
    return SafePath::open(path, flags, static_cast<mode_t>(mode), created, refusal);
}

bool KorrUtils::readFile(const std::string& path, std::string& content)
{
    // Non-blocking, so that opening a FIFO returns at once; a regular file reads the same. A
    // terminal planted at the name must not become this process's controlling terminal.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    if (!S_ISREG(st.st_mode) || st.st_size > READ_FILE_LIMIT) {
        ::close(fd);
        errno = S_ISREG(st.st_mode) ? EFBIG : EINVAL;
        return false;
    }
    content.clear();
    content.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[8192];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            content.append(chunk, static_cast<std::size_t>(n));
            if (static_cast<long long>(content.size()) > READ_FILE_LIMIT) {   // it grew meanwhile
                ::close(fd);
                errno = EFBIG;
                return false;
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            int error = errno;
            ::close(fd);
            errno = error;
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool KorrUtils::renameFile(const std::string& from, const std::string& to)
{
    std::string fromName;
    std::string toName;
    int fromDir = SafePath::openDirectoryOf(from, &fromName, nullptr);
    if (fromDir < 0) {
        return false;
    }
    int toDir = SafePath::openDirectoryOf(to, &toName, nullptr);
    if (toDir < 0) {
        int error = errno;
        ::close(fromDir);
        errno = error;
        return false;
    }
    // The old file goes first, so the rename replaces nothing (on ext4 a replacing rename
    // forces the new file's data out to disk at once).
    ::unlinkat(toDir, toName.c_str(), 0);
    int rc = ::renameat(fromDir, fromName.c_str(), toDir, toName.c_str());
    int error = errno;
    ::close(fromDir);
    ::close(toDir);
    errno = error;
    return rc == 0;
}

std::FILE* KorrUtils::openFile(const std::string& path, bool truncate, bool everyoneRead, std::string* refusal)
{
    const mode_t mode = S_IRUSR | S_IWUSR | (everyoneRead ? S_IROTH : 0);
    int fd = SafePath::open(path, O_WRONLY | O_APPEND | O_CREAT | (truncate ? O_TRUNC : 0), mode, nullptr, refusal);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "a");
    if (file == nullptr) {
        int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

std::tm KorrUtils::localTime(std::time_t time)
{
    std::tm result{};
    ::localtime_r(&time, &result);
    return result;
}

std::tm KorrUtils::universalTime(std::time_t time)
{
    std::tm result{};
    ::gmtime_r(&time, &result);
    return result;
}

void KorrUtils::checkFilePermissions(const std::string& path)
{
    traceEntry("checkFilePermissions", path);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0140_GETFILESECURITY_ERROR", getLastErrorMessage(), path)));
    }
    WindowsGroupType broad(WindowsGroupType::OTHER);
    if (st.st_mode & S_IRWXO) {
        broad = WindowsGroupType::EVERYONE;
    } else if (st.st_mode & S_IRWXG) {
        std::string name;
        if (!groupName(st.st_gid, name)) {
            throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                              rd(), "ZRKNV0147_GETACE_ERROR", getLastErrorMessage(), path)));
        }
        if (name == "users") {
            broad = WindowsGroupType::USERS;
        } else if (name == "nogroup" || name == "guests") {
            broad = WindowsGroupType::GUESTS;
        }
    }
    if (broad != WindowsGroupType(WindowsGroupType::OTHER)) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0145_GROUP_HAS_ACCESS", broad.toString(), path)));
    }
    traceExit("checkFilePermissions", "", "void");
}

bool KorrUtils::isCurrentUserMemberOfGroup(const std::string& group)
{
    traceEntry("isCurrentUserMemberOfGroup", group);
    int count = ::getgroups(0, nullptr);
    if (count < 0) {
        throwTraced("isCurrentUserMemberOfGroup", KorrIOException(NLS::format(
                                                rd(), "ZRKNV0130_OPENPROCESSTOKEN_FAILED", getLastErrorMessage(), group)));
    }
    std::vector<gid_t> groups(static_cast<size_t>(count) + 1);
    count = ::getgroups(count, groups.data());
    if (count < 0) {
        throwTraced("isCurrentUserMemberOfGroup", KorrIOException(NLS::format(
                                                rd(), "ZRKNV0131_GETTOKENINFORMATION_FAILED", getLastErrorMessage(), group)));
    }
    groups.resize(static_cast<size_t>(count));
    groups.push_back(::getegid());
    bool member = false;
    for (gid_t gid : groups) {
        std::string name;
        if (!groupName(gid, name)) {
            throwTraced("isCurrentUserMemberOfGroup", KorrIOException(NLS::format(
                                                    rd(), "ZRKNV0132_LOOKUPACCOUNTSID_FAILED", getLastErrorMessage(), group)));
        }
        if (!name.empty() && name == group) {
            member = true;
            break;
        }
    }
    traceExit("isCurrentUserMemberOfGroup", boolText(member), "bool");
    return member;
}

bool KorrUtils::doesCurrentUserHaveSpecialAuthority(const std::string& name)
{
    traceEntry("doesCurrentUserHaveSpecialAuthority", name);
    bool root = ::geteuid() == 0;
    traceExit("doesCurrentUserHaveSpecialAuthority", boolText(root), "bool");
    return root;
}

void KorrUtils::handleSignals(ProcessSignalActionHandler* handler)
{
    std::string text = Trace::pointerText(handler);
    traceEntry("handleSignals", text);
    SignalDispatcher::install(handler);
    traceExit("handleSignals", "", "void");
}

void KorrUtils::newProcessSession()
{
    traceEntry("newProcessSession", "");
    // A program run from a terminal keeps its session, so that Ctrl-C there still stops it;
    // without a controlling terminal it leaves its starter's session and process group.
    // Without blocking: a serial line without carrier could otherwise hold the open.
    int terminal = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (terminal >= 0) {
        ::close(terminal);
        traceModerate("newProcessSession", "a controlling terminal: the session is kept");
    } else if (::setsid() < 0) {
        // Fails only with EPERM, when this process already leads a process group.
        traceModerate("newProcessSession", "setsid: " + getLastErrorMessage());
    }
    traceExit("newProcessSession", "", "void");
}
