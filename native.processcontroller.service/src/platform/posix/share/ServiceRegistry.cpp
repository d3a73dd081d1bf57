#include "ServiceRegistry.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KorrUtils.h"
#include "NLS.h"

namespace {

const char* const PC_MESSAGES = "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages";
// systemd refuses unit names of 256 characters or more, ".service" included.
const std::size_t MAX_UNIT_NAME_LENGTH = 255;
const char* const UNIT_MARK = "# Written by ostarapcservice -install.";

std::string unitDirectory()
{
    std::string unitDir = KorrUtils::getenv("VELBRIX_SYSTEMD_UNIT_DIR");
    return unitDir.empty() ? std::string("/etc/systemd/system") : unitDir;
}

bool validUnitName(const std::string& name)
{
    if (name.size() + std::strlen(".service") > MAX_UNIT_NAME_LENGTH) {
        return false;
    }
    for (char c : name) {
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
                       c == '-' || c == '_' || c == '.';
        if (!allowed) {
            return false;
        }
    }
    return name != "." && name != "..";
}

bool hasControlCharacter(const std::string& text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            return true;
        }
    }
    return false;
}

// A value of Description= or User= as systemd reads it back: "%" starts a specifier.
std::string specifierEscape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '%') {
            out += c;
        }
    }
    return out;
}

// One argument of ExecStart= as systemd splits it back into exactly that argument: "%" starts
// a specifier and "$" a variable (both doubled); a word with a blank, a quote, a backslash or
// a lone ";" is double-quoted with C escapes for "\\" and the double quote.
std::string commandWord(const std::string& text)
{
    bool quote = text.empty() || text == ";" || text.find_first_of(" \t\"'\\") != std::string::npos;
    std::string out = quote ? "\"" : "";
    for (char c : text) {
        if (c == '%' || c == '$') {
            out += c;
        } else if (quote && (c == '\\' || c == '"')) {
            out += '\\';
        }
        out += c;
    }
    return quote ? out + "\"" : out;
}

std::string unitText(const ServiceRegistry::Definition& o)
{
    std::string description = o.displayName;
    if (!o.description.empty()) {
        description += " - " + o.description;
    }
    std::string text = std::string(UNIT_MARK) + "\n"
                       "[Unit]\n"
                       "Description=" + specifierEscape(description) + "\n"
                       "\n"
                       "[Service]\n"
                       "Type=notify\n"
                       "ExecStart=" + o.commandLine + "\n"
                       "Restart=on-abnormal\n";
    if (!o.user.empty()) {
        text += "User=" + specifierEscape(o.user) + "\n";
    }
    text += "KillMode=mixed\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n";
    return text;
}

bool writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The unit file, created new (never replacing one) and written whole. Returns 0 or errno.
int createUnit(const std::string& path, const std::string& text)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
    if (fd < 0) {
        return errno;
    }
    // The mode is set explicitly: a restrictive umask must not hide the unit from systemd.
    bool written = ::fchmod(fd, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(path.c_str());
        return error;
    }
    return 0;
}

// The link "systemctl enable" makes for WantedBy=multi-user.target. Returns 0 or errno.
int enableUnit(const std::string& unitDir, const std::string& unitName, const std::string& unitPath)
{
    std::string wants = unitDir + "/multi-user.target.wants";
    if (::mkdir(wants.c_str(), 0755) != 0 && errno != EEXIST) {
        return errno;
    }
    std::string link = wants + "/" + unitName;
    if (::symlink(unitPath.c_str(), link.c_str()) == 0) {
        return 0;
    }
    int error = errno;
    char target[PATH_MAX];
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (error == EEXIST && n >= 0 && std::string(target, static_cast<std::size_t>(n)) == unitPath) {
        return 0;   // left by an earlier installation of this name
    }
    return error;
}

} // namespace

std::string ServiceRegistry::programPath(std::string& reason)
{
    char self[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        reason = KorrUtils::getLastErrorMessage();
        return std::string();
    }
    return std::string(self, static_cast<std::size_t>(length));
}

bool ServiceRegistry::takesPassword()
{
    return false;
}

std::string ServiceRegistry::commandLine(const std::vector<std::string>& words)
{
    std::string line;
    for (const std::string& w : words) {
        line += (line.empty() ? "" : " ") + commandWord(w);
    }
    return line;
}

ServiceRegistry::Outcome ServiceRegistry::create(const Definition& d, std::string& reason, int& errorCode)
{
    std::string unitDir = unitDirectory();
    struct stat st;
    int dirError = 0;
    if (::stat(unitDir.c_str(), &st) != 0) {
        dirError = errno;
    } else if (!S_ISDIR(st.st_mode)) {
        dirError = ENOTDIR;
    } else if (::access(unitDir.c_str(), W_OK | X_OK) != 0) {
        dirError = errno;
    }
    if (dirError != 0) {
        errorCode = dirError;
        reason = unitDir + ": " + KorrUtils::getLastErrorMessage(dirError);
        return MANAGER_UNAVAILABLE;
    }
    if (!validUnitName(d.name)) {
        reason = "a systemd unit name may have at most " +
                 std::to_string(MAX_UNIT_NAME_LENGTH - std::strlen(".service")) +
                 " characters, each a letter, a digit or one of : - _ .";
        return NOT_CREATED;
    }
    if (hasControlCharacter(d.displayName) || hasControlCharacter(d.description) || hasControlCharacter(d.user) ||
        hasControlCharacter(d.commandLine)) {
        reason = "a value contains a line break or another control character";
        return NOT_CREATED;
    }
    std::string unitName = d.name + ".service";
    std::string unitPath = unitDir + "/" + unitName;
    int error = createUnit(unitPath, unitText(d));
    if (error == 0) {
        error = enableUnit(unitDir, unitName, unitPath);
        if (error != 0) {
            ::unlink(unitPath.c_str());
        }
    }
    if (error != 0) {
        reason = KorrUtils::getLastErrorMessage(error);
        return NOT_CREATED;
    }
    return DONE;
}

ServiceRegistry::Outcome ServiceRegistry::remove(const std::string& name, std::string& message)
{
    std::string unitDir = unitDirectory();
    std::string unitName = name + ".service";
    std::string unitPath = unitDir + "/" + unitName;
    // Only a unit this installer wrote is removed: a plain file (no link) that starts with its mark.
    struct stat st;
    if (!validUnitName(name) || ::lstat(unitPath.c_str(), &st) != 0) {
        message = NLS::format(PC_MESSAGES, "ZRKPC0067_SERVICE_NOT_INSTALLED", name, unitPath);
        return NOT_INSTALLED;
    }
    std::string firstLine;
    int fd = S_ISREG(st.st_mode) ? ::open(unitPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
    if (fd >= 0) {
        char buffer[64];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        ::close(fd);
        firstLine.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    if (firstLine.compare(0, std::strlen(UNIT_MARK) + 1, std::string(UNIT_MARK) + "\n") != 0) {
        message = NLS::format(PC_MESSAGES, "ZRKPC0068_UNIT_NOT_OURS", unitPath);
        return NOT_OURS;
    }
    std::string link = unitDir + "/multi-user.target.wants/" + unitName;
    char target[PATH_MAX];
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    int error = 0;
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == unitPath && ::unlink(link.c_str()) != 0) {
        error = errno;
    }
    if (error == 0 && ::unlink(unitPath.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        message = NLS::format(PC_MESSAGES, "ZRKPC0069_UNINSTALL_FAILED", name, KorrUtils::getLastErrorMessage(error));
        return FAILED;
    }
    message = NLS::format(PC_MESSAGES, "ZRKPC0066_SERVICE_UNINSTALLED", name);
    return DONE;
}
