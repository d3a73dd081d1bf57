#include "KorrUtils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <vector>

#include "KorrException.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d = new RasDescriptor("KorrUtils", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

std::string trim(const std::string& text)
{
    const char* blanks = " \t\r\n";
    std::string::size_type first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
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
