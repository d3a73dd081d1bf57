#include "ServiceRegistry.h"

#include <windows.h>

#include "KorrUtils.h"
#include "NLS.h"

namespace {

const char* const PC_MESSAGES = "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages";

bool hasControlCharacter(const std::string& text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            return true;
        }
    }
    return false;
}

bool alreadyQuoted(const std::string& text)
{
    return text.size() >= 2 && text[0] == '"' && text.find('"', 1) == text.size() - 1;
}

// One word as the C runtime parses it back: bare when it can be, else in double quotes, with a
// run of backslashes doubled before a quote (an escaped one, or the closing one).
std::string commandWord(const std::string& text)
{
    if (!text.empty() && text.find_first_of(" \t\"") == std::string::npos) {
        return text;
    }
    if (alreadyQuoted(text)) {
        return text;
    }
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

std::string errorText(DWORD code)
{
    return KorrUtils::getLastErrorMessage(static_cast<int>(code));
}

// The program a registered command line starts: its first word, without quotes.
std::string firstWord(const std::string& commandLine)
{
    if (!commandLine.empty() && commandLine[0] == '"') {
        std::size_t end = commandLine.find('"', 1);
        return commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }
    return commandLine.substr(0, commandLine.find(' '));
}

// A reason why the manager cannot take the definition (a name with "/" or "\", a control
// character in a value); empty when it can.
std::string refusal(const ServiceRegistry::Definition& d)
{
    if (d.name.find_first_of("/\\") != std::string::npos) {
        return "a service name may not contain \"/\" or \"\\\"";
    }
    if (hasControlCharacter(d.name) || hasControlCharacter(d.displayName) || hasControlCharacter(d.description) ||
        hasControlCharacter(d.user) || hasControlCharacter(d.commandLine)) {
        return "a value contains a line break or another control character";
    }
    return std::string();
}

} // namespace

std::string ServiceRegistry::programPath(std::string& reason)
{
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) {
        if (n != 0) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        }
        reason = KorrUtils::getLastErrorMessage();
        return std::string();
    }
    return std::string(path, n);
}

bool ServiceRegistry::takesPassword()
{
    return true;
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
    reason = refusal(d);
    if (!reason.empty()) {
        return NOT_CREATED;
    }
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        DWORD error = ::GetLastError();
        errorCode = static_cast<int>(error);
        reason = errorText(error);
        return MANAGER_UNAVAILABLE;
    }
    SC_HANDLE service = ::CreateServiceA(manager, d.name.c_str(), d.displayName.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         d.commandLine.c_str(), nullptr, nullptr, nullptr,
                                         d.user.empty() ? nullptr : d.user.c_str(),
                                         d.password.empty() ? nullptr : d.password.c_str());
    if (!service) {
        reason = errorText(::GetLastError());
        ::CloseServiceHandle(manager);
        return NOT_CREATED;
    }
    Outcome outcome = DONE;
    if (!d.description.empty()) {
        SERVICE_DESCRIPTIONA description;
        description.lpDescription = const_cast<char*>(d.description.c_str());
        if (!::ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description)) {
            reason = errorText(::GetLastError());
            outcome = DESCRIPTION_FAILED;
        }
    }
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return outcome;
}

ServiceRegistry::Outcome ServiceRegistry::remove(const std::string& name, std::string& message)
{
    if (name.find_first_of("/\\") != std::string::npos || hasControlCharacter(name)) {
        message = NLS::format(PC_MESSAGES, "ZRKPC0084_SERVICE_NOT_REGISTERED", name);
        return NOT_INSTALLED;
    }
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        message = NLS::format(PC_MESSAGES, "ZRKPC0086_SERVICE_NOT_DELETED", name, errorText(::GetLastError()));
        return FAILED;
    }
    SC_HANDLE service = ::OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG | DELETE);
    if (!service) {
        DWORD error = ::GetLastError();
        ::CloseServiceHandle(manager);
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            message = NLS::format(PC_MESSAGES, "ZRKPC0084_SERVICE_NOT_REGISTERED", name);
            return NOT_INSTALLED;
        }
        message = NLS::format(PC_MESSAGES, "ZRKPC0086_SERVICE_NOT_DELETED", name, errorText(error));
        return FAILED;
    }
    // Only a service that runs this program is deleted: a mistyped name must not remove another.
    std::string reason;
    std::string self = programPath(reason);
    std::string program;
    DWORD needed = 0;
    ::QueryServiceConfigA(service, nullptr, 0, &needed);
    if (needed > 0) {
        std::string buffer(needed, '\0');
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(&buffer[0]);
        if (::QueryServiceConfigA(service, config, needed, &needed) && config->lpBinaryPathName) {
            program = firstWord(config->lpBinaryPathName);
        }
    }
    Outcome outcome = DONE;
    if (self.empty() || ::lstrcmpiA(program.c_str(), self.c_str()) != 0) {
        message = NLS::format(PC_MESSAGES, "ZRKPC0085_SERVICE_NOT_OURS", name, program);
        outcome = NOT_OURS;
    } else if (!::DeleteService(service)) {
        message = NLS::format(PC_MESSAGES, "ZRKPC0086_SERVICE_NOT_DELETED", name, errorText(::GetLastError()));
        outcome = FAILED;
    } else {
        message = NLS::format(PC_MESSAGES, "ZRKPC0083_SERVICE_DELETED", name);
    }
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return outcome;
}
