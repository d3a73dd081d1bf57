#include "KorrUtils.h"

#include <windows.h>
#undef STILL_ACTIVE // a macro there; KorrThread::STILL_ACTIVE here
#include <direct.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ConsoleSignalDispatcher.h"
#include "FFDC.h"
#include "FileAccessList.h"
#include "FilePermissionsException.h"
#include "KorrException.h"
#include "KorrIOException.h"
#include "KorrUnsupportedOperationException.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Trace.h"
#include "WindowsGroupType.h"

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

const char* boolText(bool b) { return b ? "true" : "false"; }

void traceEntry(const char* method, const std::string& a, const char* b = nullptr, const char* c = nullptr)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), nullptr, method, b ? (c ? 3 : 2) : 1, a.c_str(), b, c);
    }
}

// Keeps the last error across the trace, since callers read the failure of mkdirs through it.
void traceExit(const char* method, const std::string& result, const std::string& type)
{
    if (rd().isFlowOn()) {
        DWORD saved = GetLastError();
        Trace::traceMethodExit(rd(), nullptr, method, &result, type);
        SetLastError(saved);
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

std::string lastError() { return KorrUtils::getLastErrorMessage(static_cast<int>(GetLastError())); }

[[noreturn]] void notImplemented(const char* method, const char* text)
{
    KorrException e(text);
    FFDC::capture(rd(), nullptr, method, FFDC::PROBE_001(), &e);
    throwTraced(method, e);
}

bool isDirectory(const std::string& path, bool& exists)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    exists = attributes != INVALID_FILE_ATTRIBUTES;
    return exists && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int makeDirectories(const std::string& path, bool canRead)
{
    if (path.empty()) {
        return 0;
    }
    // One retry after creating the parent: a directory removed again meanwhile fails.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            try {
                // Others may list the level when canRead, never write it: a directory open for
                // writing would let anyone plant files where this process writes its own.
                KorrUtils::mkpriv(path, canRead, false);
            } catch (const KorrException& e) {
                traceModerate("mkdirs", e.toString());
            }
            return 0;
        }
        DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS) {
            bool exists = false;
            bool directory = isDirectory(path, exists);
            SetLastError(error);
            return directory ? 0 : -1;
        }
        if (error != ERROR_PATH_NOT_FOUND || attempt > 0) {
            return -1;
        }
        std::string parent = KorrUtils::getParent(path);
        if (parent.empty() || parent == path || makeDirectories(parent, canRead) != 0) {
            SetLastError(error);
            return -1;
        }
    }
    return -1;
}

// The broad group a SID names: Guests, Users, Everyone, or other.
WindowsGroupType broadGroup(PSID sid, PSID everyone, PSID guests, PSID users)
{
    if (EqualSid(sid, everyone)) {
        return WindowsGroupType(WindowsGroupType::EVERYONE);
    }
    if (EqualSid(sid, guests)) {
        return WindowsGroupType(WindowsGroupType::GUESTS);
    }
    if (EqualSid(sid, users)) {
        return WindowsGroupType(WindowsGroupType::USERS);
    }
    return WindowsGroupType(WindowsGroupType::OTHER);
}

struct SidFree {
    void operator()(void* sid) const { FreeSid(sid); }
};

} // namespace

std::string KorrUtils::getenv(const std::string& name)
{
    std::vector<char> buffer(32768);
    DWORD n = GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    return n > 0 && n < buffer.size() ? std::string(buffer.data(), n) : std::string();
}

void KorrUtils::setenv(const std::string& name, const std::string& value)
{
    // Both the process environment and the C runtime's copy, which getenv() of the runtime reads.
    if (!SetEnvironmentVariableA(name.c_str(), value.c_str()) || _putenv_s(name.c_str(), value.c_str()) != 0) {
        KorrException e(NLS::format(rd(), "ZRKNV0110_SETENV_FAILED", name, value, lastError()));
        throwTraced("setenv", e);
    }
}

std::string KorrUtils::getLastErrorMessage() { return getLastErrorMessage(static_cast<int>(GetLastError())); }

// The single place where operating-system error codes become text.
std::string KorrUtils::getLastErrorMessage(int code)
{
    char buffer[4096];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    std::string result = trim(std::string(buffer, n));
    return result.empty() ? std::to_string(code) : result;
}

std::string KorrUtils::getCwd()
{
    char buffer[MAX_PATH + 1];
    DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
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

std::string KorrUtils::separator() { return "\\"; }

std::string KorrUtils::pathSeparator() { return ";"; }

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

void KorrUtils::setWindowsACLs(const std::string& path, bool withVexilGroup, bool everyoneRead, bool everyoneWrite)
{
    bool exists = false;
    bool directory = isDirectory(path, exists);
    FileAccessList list(path, directory, withVexilGroup, everyoneRead, everyoneWrite);
    list.writeTo(path);
}

void KorrUtils::mkpriv(const std::string& path, bool everyoneRead, bool everyoneWrite)
{
    traceEntry("mkpriv", path, boolText(everyoneRead), boolText(everyoneWrite));
    try {
        setWindowsACLs(path, false, everyoneRead, everyoneWrite);
    } catch (const KorrIOException& e) {
        throwTraced("mkpriv", e);
    }
    traceExit("mkpriv", "", "void");
}

void KorrUtils::mkGroupVexilWrite(const std::string& path, bool everyoneWrite)
{
    traceEntry("mkGroupVexilWrite", path, boolText(everyoneWrite));
    try {
        setWindowsACLs(path, true, true, everyoneWrite);
    } catch (const KorrIOException& e) {
        throwTraced("mkGroupVexilWrite", e);
    }
    traceExit("mkGroupVexilWrite", "", "void");
}

void KorrUtils::mkGroupWrite(const std::string& path, const std::string& group, bool flag)
{
    traceEntry("mkGroupWrite", path, group.c_str(), boolText(flag));
    notImplemented("mkGroupWrite", "KorrUtils::mkGroupWrite not implemented");
}

std::string KorrUtils::getUID()
{
    traceEntry("getUID", "");
    notImplemented("getUID", "KorrUtils::getUID not implemented");
}

void KorrUtils::chmod(const std::string& path, int mode)
{
    std::string modeText = std::to_string(mode);
    traceEntry("chmod", path, modeText.c_str());
    throwTraced("chmod", KorrUnsupportedOperationException(NLS::format(rd(), "ZRKNV0020_CHMOD_UNSUPPORTED")));
}

bool KorrUtils::readFile(const std::string& path, std::string& content)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        errno = ENOENT;
        return false;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        errno = EISDIR;
        return false;
    }
    if ((static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) > READ_FILE_LIMIT) {
        errno = EFBIG;
        return false;
    }
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    content.clear();
    char chunk[8192];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        content.append(chunk, n);
        if (static_cast<long long>(content.size()) > READ_FILE_LIMIT) {
            std::fclose(in);
            errno = EFBIG;
            return false;
        }
    }
    bool complete = !std::ferror(in);
    std::fclose(in);
    return complete;
}

bool KorrUtils::renameFile(const std::string& from, const std::string& to)
{
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
        errno = GetLastError() == ERROR_FILE_NOT_FOUND ? ENOENT : EACCES;
        return false;
    }
    return true;
}

std::FILE* KorrUtils::openFile(const std::string& path, bool truncate, bool everyoneRead, std::string* refusal)
{
    auto refuse = [&](int code, const char* reason) -> std::FILE* {
        if (refusal) {
            *refusal = NLS::format(rd(), "ZRKNV0189_UNSAFE_FILE", path, reason);
        }
        errno = code;
        return nullptr;
    };
    // A name that cannot be opened: a directory or link planted there is named as the reason.
    auto unopened = [&]() -> std::FILE* {
        DWORD error = GetLastError();
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            return refuse(ELOOP, "it is a symbolic link");
        }
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return refuse(EISDIR, "it is not a regular file");
        }
        SetLastError(error);
        errno = EACCES;
        return nullptr;
    };
    // Created exclusively first, so that this call knows whether the access list is its to
    // set; an existing name that is a link is refused, as it could point anywhere.
    HANDLE h = INVALID_HANDLE_VALUE;
    bool created = false;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        h = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA | READ_CONTROL | WRITE_DAC,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            created = true;
            break;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            return unopened();
        }
        h = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info;
            bool known = GetFileInformationByHandle(h, &info) != 0;
            DWORD type = GetFileType(h);
            if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                CloseHandle(h);
                return refuse(ELOOP, "it is a symbolic link");
            }
            if (type != FILE_TYPE_DISK || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                CloseHandle(h);
                return refuse(ENXIO, "it is not a regular file");
            }
        } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            return unopened();
        }
    }
    if (h == INVALID_HANDLE_VALUE) {
        errno = ENOENT;
        return nullptr;
    }
    if (created) {
        try {
            // Not mkpriv, which traces: file handlers open their next file under their write
            // lock, which a thread holding the trace lock may be waiting for.
            setWindowsACLs(path, false, everyoneRead, false);
        } catch (const KorrException&) {
            CloseHandle(h);
            DeleteFileA(path.c_str());
            errno = EACCES;
            return nullptr;
        }
    } else if (truncate && !SetEndOfFile(h)) {
        CloseHandle(h);
        errno = EACCES;
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "ab");
    if (file == nullptr) {
        int error = errno;
        _close(fd);
        errno = error;
    }
    return file;
}

std::tm KorrUtils::localTime(std::time_t time)
{
    std::tm result{};
    localtime_s(&result, &time);
    return result;
}

std::tm KorrUtils::universalTime(std::time_t time)
{
    std::tm result{};
    gmtime_s(&result, &time);
    return result;
}

void KorrUtils::checkFilePermissions(const std::string& path)
{
    traceEntry("checkFilePermissions", path);
    DWORD size = 0;
    const SECURITY_INFORMATION wanted = DACL_SECURITY_INFORMATION;
    if (!GetFileSecurityA(path.c_str(), wanted, nullptr, 0, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0138_GETFILESECURITY_ERROR", lastError(), path)));
    }
    if (size == 0) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0139_GETFILESECURITY_ERROR", lastError(), path)));
    }
    std::vector<unsigned char> descriptor(size);
    if (!GetFileSecurityA(path.c_str(), wanted, descriptor.data(), size, &size)) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0140_GETFILESECURITY_ERROR", lastError(), path)));
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted)) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0144_GETSECURITYDESCRIPTORDACL_ERROR", lastError(), path)));
    }
    checkAccessList(path, present ? acl : nullptr);
    traceExit("checkFilePermissions", "", "void");
}

void KorrUtils::checkAccessList(const std::string& path, _ACL* acl)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID raw = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &raw)) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0141_ALLOCATEANDINITIALIZESID_ERROR", lastError(), path)));
    }
    std::unique_ptr<void, SidFree> everyone(raw);
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_GUESTS, 0, 0, 0, 0, 0, 0, &raw)) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0142_ALLOCATEANDINITIALIZESID_ERROR", lastError(), path)));
    }
    std::unique_ptr<void, SidFree> guests(raw);
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &raw)) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0143_ALLOCATEANDINITIALIZESID_ERROR", lastError(), path)));
    }
    std::unique_ptr<void, SidFree> users(raw);
    if (!acl) {
        throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                          rd(), "ZRKNV0146_ALL_USERS_HAVE_ACCESS", path)));
    }
    const DWORD all = STANDARD_RIGHTS_ALL | SPECIFIC_RIGHTS_ALL;
    bool shutOut[4] = {false, false, false, false}; // by WindowsGroupType value 1..3
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) {
            throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                              rd(), "ZRKNV0147_GETACE_ERROR", lastError(), path)));
        }
        const ACE_HEADER* header = static_cast<ACE_HEADER*>(ace);
        PSID sid = nullptr;
        DWORD mask = 0;
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            sid = &allowed->SidStart;
            mask = allowed->Mask;
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* denied = static_cast<ACCESS_DENIED_ACE*>(ace);
            sid = &denied->SidStart;
            mask = denied->Mask;
        } else {
            continue;
        }
        WindowsGroupType group = broadGroup(sid, everyone.get(), guests.get(), users.get());
        int value = group.getValue();
        if (value < 1 || value > 3) {
            continue;
        }
        // Generic rights in an entry map onto standard and specific ones: any of them counts.
        const DWORD rights = mask & (all | GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            if ((mask & all) == all || (mask & GENERIC_ALL)) {
                shutOut[value] = true;
            }
        } else if (rights != 0 && !shutOut[value]) {
            throwTraced("checkFilePermissions", FilePermissionsException(NLS::format(
                                              rd(), "ZRKNV0145_GROUP_HAS_ACCESS", group.toString(), path)));
        }
    }
}

bool KorrUtils::isCurrentUserMemberOfGroup(const std::string& group)
{
    traceEntry("isCurrentUserMemberOfGroup", group);
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        throwTraced("isCurrentUserMemberOfGroup", KorrIOException(NLS::format(
                                                rd(), "ZRKNV0129_OPENPROCESSTOKEN_FAILED", lastError(), group)));
    }
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenGroups, nullptr, 0, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        std::string error = lastError();
        CloseHandle(token);
        throwTraced("isCurrentUserMemberOfGroup", KorrIOException(NLS::format(
                                                rd(), "ZRKNV0130_OPENPROCESSTOKEN_FAILED", error, group)));
    }
    std::vector<unsigned char> buffer(size ? size : 1);
    if (!GetTokenInformation(token, TokenGroups, buffer.data(), size, &size)) {
        std::string error = lastError();
        CloseHandle(token);
        throwTraced("isCurrentUserMemberOfGroup", KorrIOException(NLS::format(
                                                rd(), "ZRKNV0131_GETTOKENINFORMATION_FAILED", error, group)));
    }
    CloseHandle(token);
    const TOKEN_GROUPS* groups = reinterpret_cast<TOKEN_GROUPS*>(buffer.data());
    bool member = false;
    for (DWORD i = 0; i < groups->GroupCount && !member; ++i) {
        char name[256], domain[256];
        DWORD nameSize = sizeof name, domainSize = sizeof domain;
        SID_NAME_USE use;
        if (!LookupAccountSidA(nullptr, groups->Groups[i].Sid, name, &nameSize, domain, &domainSize, &use)) {
            if (GetLastError() == ERROR_NONE_MAPPED) {
                continue;
            }
            throwTraced("isCurrentUserMemberOfGroup", KorrIOException(NLS::format(
                                                    rd(), "ZRKNV0132_LOOKUPACCOUNTSID_FAILED", lastError(), group)));
        }
        member = group == name;
    }
    traceExit("isCurrentUserMemberOfGroup", boolText(member), "bool");
    return member;
}

bool KorrUtils::doesCurrentUserHaveSpecialAuthority(const std::string& name)
{
    traceEntry("doesCurrentUserHaveSpecialAuthority", name);
    traceExit("doesCurrentUserHaveSpecialAuthority", "false", "bool");
    return false;
}

void KorrUtils::handleSignals(ProcessSignalActionHandler* handler)
{
    std::string text = Trace::pointerText(handler);
    traceEntry("handleSignals", text);
    ConsoleSignalDispatcher::install(handler);
    traceExit("handleSignals", "", "void");
}

void KorrUtils::newProcessSession()
{
    traceEntry("newProcessSession", "");
    traceExit("newProcessSession", "", "void");
}
