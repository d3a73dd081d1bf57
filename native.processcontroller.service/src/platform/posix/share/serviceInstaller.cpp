#include "serviceInstaller.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "KorrUtils.h"
#include "NLS.h"
#include "serviceMain.h"

namespace {

const char* const PC_MESSAGES = "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages";
const std::size_t MAX_NAME_LENGTH = 256;
// systemd refuses unit names of 256 characters or more, ".service" included.
const std::size_t MAX_UNIT_NAME_LENGTH = 255;

const char* const PRODUCT_ROOT_OPTION = "-Dcom.quillon.velbrix.product.root=";
const char* const UNIT_MARK = "# Written by ostarapcservice -install.";

struct Options
{
    std::string serviceName;
    std::string displayName;
    std::string description;
    std::string user;
    std::string password;
    std::string directory;
    std::string logLevel;
    bool programGiven = false;
    std::vector<std::string> controllerArgs;   // "-pcOptions=" value and everything after it
    std::string unknown;                       // the first argument that is no installer option
};

bool takeOption(const char* argument, const char* prefix, std::string& value)
{
    std::size_t length = std::strlen(prefix);
    if (std::strncmp(argument, prefix, length) != 0) {
        return false;
    }
    value = argument + length;
    return true;
}

// Everything after "-pcOptions=" belongs to the controller, even what looks like an option of
// the installer ("-user=" of the application is not the service's account).
Options parseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        std::string first;
        if (takeOption(a, "-pcOptions=", first)) {
            o.programGiven = true;
            if (!first.empty()) {
                o.controllerArgs.push_back(first);
            }
            o.controllerArgs.insert(o.controllerArgs.end(), argv + i + 1, argv + argc);
            break;
        }
        if (!takeOption(a, "-serviceName=", o.serviceName) && !takeOption(a, "-displayName=", o.displayName) &&
            !takeOption(a, "-description=", o.description) && !takeOption(a, "-user=", o.user) &&
            !takeOption(a, "-password=", o.password) && !takeOption(a, "-directory=", o.directory) &&
            !takeOption(a, "-logLevel=", o.logLevel) && o.unknown.empty()) {
            o.unknown = a;
        }
    }
    return o;
}

// The product root as ostaractl finds it: the product-root option among the controller's
// arguments, else ZRK_PROD, else "prod" beside the directory of this program.
std::string findProductRoot(const std::vector<std::string>& controllerArgs, bool& optionGiven)
{
    optionGiven = false;
    std::string root;
    std::size_t length = std::strlen(PRODUCT_ROOT_OPTION);
    for (const std::string& a : controllerArgs) {
        if (a.compare(0, length, PRODUCT_ROOT_OPTION) == 0) {
            root = a.substr(length);
            optionGiven = true;
        }
    }
    if (!optionGiven) {
        root = KorrUtils::getenv("ZRK_PROD");
    }
    if (root.empty()) {
        char self[PATH_MAX];
        ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (n > 0) {
            std::string exe(self, static_cast<std::size_t>(n));
            std::string bin = exe.substr(0, exe.rfind('/'));
            root = bin.substr(0, bin.rfind('/')) + "/prod";
        }
    }
    return root;
}

// Messages are formatted from the product's catalogues, wherever the installer was run from.
std::string useProductRoot(const std::vector<std::string>& controllerArgs, bool& optionGiven)
{
    std::string root = findProductRoot(controllerArgs, optionGiven);
    if (!root.empty()) {
        ::setenv("ZRK_PROD", root.c_str(), 1);
    }
    return root;
}

std::string unitDirectory()
{
    std::string unitDir = KorrUtils::getenv("VELBRIX_SYSTEMD_UNIT_DIR");
    return unitDir.empty() ? std::string("/etc/systemd/system") : unitDir;
}

void printError(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
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

std::string unitText(const Options& o, const std::string& displayName, const std::string& commandLine)
{
    std::string description = displayName;
    if (!o.description.empty()) {
        description += " - " + o.description;
    }
    std::string text = std::string(UNIT_MARK) + "\n"
                       "[Unit]\n"
                       "Description=" + specifierEscape(description) + "\n"
                       "\n"
                       "[Service]\n"
                       "Type=notify\n"
                       "ExecStart=" + commandLine + "\n"
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

std::string quoteIfNeeded(const std::string& text)
{
    if (text.empty() || text.find(' ') == std::string::npos) {
        return text;
    }
    if (text[0] == '"' && text.find('"', 1) == text.size() - 1) {
        return text;
    }
    return "\"" + text + "\"";
}

int install(int argc, char** argv)
{
    Options o = parseOptions(argc, argv);
    bool rootGiven = false;
    std::string productRoot = useProductRoot(o.controllerArgs, rootGiven);
    if (o.serviceName.empty()) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0012_NO_SERVICE_NAME"));
        return -1;
    }
    if (o.serviceName.size() > MAX_NAME_LENGTH) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0013_SERVICE_NAME_TOO_LONG"));
        return -2;
    }
    if (!o.displayName.empty() && o.displayName.size() > MAX_NAME_LENGTH) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0014_DISPLAY_NAME_TOO_LONG"));
        return -3;
    }
    if (!o.unknown.empty()) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0064_UNKNOWN_INSTALL_OPTION", o.unknown));
        return INSTALL_USAGE;
    }
    if (o.controllerArgs.empty()) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0065_NO_PROGRAM"));
        return INSTALL_USAGE;
    }
    if (!o.logLevel.empty() && !isLogLevel(o.logLevel)) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0071_INVALID_LOG_LEVEL", o.logLevel, logLevelList()));
        return INSTALL_USAGE;
    }
    std::string displayName = o.displayName.empty() ? o.serviceName : o.displayName;
    std::string directory = o.directory.empty() ? KorrUtils::getCwd() : o.directory;
    std::string logLevel = o.logLevel.empty() ? std::string("Info") : o.logLevel;
    if (!o.password.empty()) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0062_PASSWORD_IGNORED"));
    }

    char self[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0015_GET_MODULE_FILE_NAME_FAILED", KorrUtils::getLastErrorMessage()));
        return -4;
    }
    // Each argument is one word as systemd splits ExecStart=. The product root goes in front of
    // the controller's options when they do not name one, so the unit runs wherever it is read.
    std::vector<std::string> words = {std::string(self, static_cast<std::size_t>(length)), o.serviceName, directory,
                                      logLevel};
    if (!rootGiven && !productRoot.empty()) {
        words.push_back(PRODUCT_ROOT_OPTION + productRoot);
    }
    words.insert(words.end(), o.controllerArgs.begin(), o.controllerArgs.end());
    std::string commandLine;
    for (const std::string& w : words) {
        commandLine += (commandLine.empty() ? "" : " ") + commandWord(w);
    }

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
        printError("Last error is: " + std::to_string(dirError));
        printError(NLS::format(PC_MESSAGES, "ZRKPC0016_OPEN_SCM_FAILED",
                               unitDir + ": " + KorrUtils::getLastErrorMessage(dirError)));
        return -5;
    }

    std::string reason;
    if (!validUnitName(o.serviceName)) {
        reason = "a systemd unit name may have at most " +
                 std::to_string(MAX_UNIT_NAME_LENGTH - std::strlen(".service")) +
                 " characters, each a letter, a digit or one of : - _ .";
    } else if (hasControlCharacter(displayName) || hasControlCharacter(o.description) || hasControlCharacter(o.user) ||
               hasControlCharacter(commandLine)) {
        reason = "a value contains a line break or another control character";
    }
    std::string unitName = o.serviceName + ".service";
    std::string unitPath = unitDir + "/" + unitName;
    if (reason.empty()) {
        int error = createUnit(unitPath, unitText(o, displayName, commandLine));
        if (error == 0) {
            error = enableUnit(unitDir, unitName, unitPath);
            if (error != 0) {
                ::unlink(unitPath.c_str());
            }
        }
        if (error != 0) {
            reason = KorrUtils::getLastErrorMessage(error);
        }
    }
    if (!reason.empty()) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0017_CREATE_SERVICE_FAILED", o.serviceName, reason));
        return -6;
    }
    std::printf("%s\n", NLS::format(PC_MESSAGES, "ZRKPC0019_SERVICE_INSTALLED", o.serviceName).c_str());
    std::fflush(stdout);
    return 0;
}

int uninstall(int argc, char** argv)
{
    std::string name;
    std::string unknown;
    for (int i = 0; i < argc; ++i) {
        if (!takeOption(argv[i], "-serviceName=", name) && unknown.empty()) {
            unknown = argv[i];
        }
    }
    bool rootGiven = false;
    useProductRoot(std::vector<std::string>(), rootGiven);
    if (!unknown.empty()) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0064_UNKNOWN_INSTALL_OPTION", unknown));
        return INSTALL_USAGE;
    }
    if (name.empty()) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0012_NO_SERVICE_NAME"));
        return -1;
    }
    std::string unitDir = unitDirectory();
    std::string unitName = name + ".service";
    std::string unitPath = unitDir + "/" + unitName;
    // Only a unit this installer wrote is removed: a plain file (no link) that starts with its mark.
    struct stat st;
    if (!validUnitName(name) || ::lstat(unitPath.c_str(), &st) != 0) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0067_SERVICE_NOT_INSTALLED", name, unitPath));
        return UNINSTALL_NOT_INSTALLED;
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
        printError(NLS::format(PC_MESSAGES, "ZRKPC0068_UNIT_NOT_OURS", unitPath));
        return UNINSTALL_NOT_OURS;
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
        printError(NLS::format(PC_MESSAGES, "ZRKPC0069_UNINSTALL_FAILED", name, KorrUtils::getLastErrorMessage(error)));
        return -5;
    }
    std::printf("%s\n", NLS::format(PC_MESSAGES, "ZRKPC0066_SERVICE_UNINSTALLED", name).c_str());
    std::fflush(stdout);
    return 0;
}
