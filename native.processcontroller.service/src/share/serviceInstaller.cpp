#include "serviceInstaller.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "KorrException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "ServiceRegistry.h"
#include "serviceMain.h"

namespace {

const char* const PC_MESSAGES = "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages";
const std::size_t MAX_NAME_LENGTH = 256;
const char* const PRODUCT_ROOT_OPTION = "-Dcom.quillon.velbrix.product.root=";

struct Options
{
    std::string serviceName;
    std::string displayName;
    std::string description;
    std::string user;
    std::string password;
    std::string directory;
    std::string logLevel;
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
// arguments, else ZRK_PROD, else "prod" beside the directory of this program. Messages are
// formatted from its catalogues, wherever the installer was run from.
std::string useProductRoot(const std::vector<std::string>& controllerArgs, bool& optionGiven)
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
        std::string reason;
        std::string exe = ServiceRegistry::programPath(reason);
        if (!exe.empty()) {
            root = KorrUtils::getParent(KorrUtils::getParent(exe)) + KorrUtils::separator() + "prod";
        }
    }
    if (!root.empty()) {
        try {
            KorrUtils::setenv("ZRK_PROD", root);
        } catch (const KorrException&) {
            // Messages then show their keys; the installation itself does not depend on it.
        }
    }
    return root;
}

void printError(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void printResult(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
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
    ServiceRegistry::Definition d;
    d.name = o.serviceName;
    d.displayName = o.displayName.empty() ? o.serviceName : o.displayName;
    d.description = o.description;
    d.user = o.user;
    if (!o.password.empty() && !ServiceRegistry::takesPassword()) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0062_PASSWORD_IGNORED"));
    } else {
        d.password = o.password;
    }
    std::string directory = o.directory.empty() ? KorrUtils::getCwd() : o.directory;
    std::string logLevel = o.logLevel.empty() ? std::string("Info") : o.logLevel;

    std::string reason;
    std::string self = ServiceRegistry::programPath(reason);
    if (self.empty()) {
        printError(NLS::format(PC_MESSAGES, "ZRKPC0015_GET_MODULE_FILE_NAME_FAILED", reason));
        return -4;
    }
    // Each argument is one word of the registered command line. The product root goes in front
    // of the controller's options when they do not name one, so the service runs wherever it is.
    std::vector<std::string> words = {self, o.serviceName, directory, logLevel};
    if (!rootGiven && !productRoot.empty()) {
        words.push_back(PRODUCT_ROOT_OPTION + productRoot);
    }
    words.insert(words.end(), o.controllerArgs.begin(), o.controllerArgs.end());
    d.commandLine = ServiceRegistry::commandLine(words);

    int errorCode = 0;
    switch (ServiceRegistry::create(d, reason, errorCode)) {
    case ServiceRegistry::DONE:
        break;
    case ServiceRegistry::MANAGER_UNAVAILABLE:
        printError("Last error is: " + std::to_string(errorCode));
        printError(NLS::format(PC_MESSAGES, "ZRKPC0016_OPEN_SCM_FAILED", reason));
        return -5;
    case ServiceRegistry::DESCRIPTION_FAILED:
        printError(NLS::format(PC_MESSAGES, "ZRKPC0018_CHANGE_SERVICE_CONFIG2_FAILED", o.serviceName, reason));
        return 0;
    default:
        printError(NLS::format(PC_MESSAGES, "ZRKPC0017_CREATE_SERVICE_FAILED", o.serviceName, reason));
        return -6;
    }
    printResult(NLS::format(PC_MESSAGES, "ZRKPC0019_SERVICE_INSTALLED", o.serviceName));
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
    std::string message;
    switch (ServiceRegistry::remove(name, message)) {
    case ServiceRegistry::DONE:
        printResult(message);
        return 0;
    case ServiceRegistry::NOT_INSTALLED:
        printError(message);
        return UNINSTALL_NOT_INSTALLED;
    case ServiceRegistry::NOT_OURS:
        printError(message);
        return UNINSTALL_NOT_OURS;
    default:
        printError(message);
        return -5;
    }
}
