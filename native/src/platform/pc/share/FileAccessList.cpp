#include "FileAccessList.h"

#include <memory>

#include "KorrIOException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d = new RasDescriptor("KorrUtils", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

[[noreturn]] void fail(const char* key, const std::string& first, const std::string& second)
{
    // Not traced here: KorrUtils::openFile sets access lists where tracing is not allowed;
    // mkpriv and mkGroupVexilWrite trace the exception.
    throw KorrIOException(NLS::format(rd(), key, first, second));
}

std::string lastError() { return KorrUtils::getLastErrorMessage(static_cast<int>(GetLastError())); }

struct SidFree {
    void operator()(void* sid) const { FreeSid(sid); }
};
typedef std::unique_ptr<void, SidFree> WellKnownSid;

// The user of this process's token.
std::vector<unsigned char> tokenUser(const std::string& path)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        fail("ZRKNV0021_OPENPROCESSTOKEN_ERROR", lastError(), path);
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    BOOL ok = GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    std::string error = ok ? std::string() : lastError();
    CloseHandle(token);
    if (!ok) {
        fail("ZRKNV0022_GETTOKENINFORMATION_ERROR", error, path);
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const unsigned char* bytes = static_cast<const unsigned char*>(sid);
    return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid));
}

// The identifier of the account named name; empty when the name maps to nothing.
std::vector<unsigned char> accountSid(const std::string& name, const std::string& path)
{
    DWORD sidSize = 0, domainSize = 0;
    SID_NAME_USE use;
    if (!LookupAccountNameA(nullptr, name.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use)) {
        DWORD error = GetLastError();
        if (error == ERROR_NONE_MAPPED) {
            return {};
        }
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            fail("ZRKNV0172_LOOKUPACCOUNTNAME_ERROR", KorrUtils::getLastErrorMessage(static_cast<int>(error)), name);
        }
    }
    std::vector<unsigned char> sid(sidSize ? sidSize : 1);
    std::vector<char> domain(domainSize ? domainSize : 1);
    if (!LookupAccountNameA(nullptr, name.c_str(), sid.data(), &sidSize, domain.data(), &domainSize, &use)) {
        if (GetLastError() == ERROR_NONE_MAPPED) {
            return {};
        }
        fail("ZRKNV0172_LOOKUPACCOUNTNAME_ERROR", lastError(), name);
    }
    if (!IsValidSid(sid.data())) {
        if (rd().isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, nullptr, "setWindowsACLs", 1,
                                   "Unexpectedly unable to retrieve valid SID for vexil user/group.");
        }
        return {};
    }
    (void)path;
    return sid;
}

} // namespace

FileAccessList::FileAccessList(const std::string& path, bool directory, bool withVexilGroup, bool everyoneRead,
                               bool everyoneWrite)
    : inheritance(directory ? (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) : 0)
{
    std::vector<unsigned char> user = tokenUser(path);
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID adminsRaw = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &adminsRaw)) {
        fail("ZRKNV0023_ALLOCATEANDINITIALIZESID_ERROR", lastError(), path);
    }
    WellKnownSid admins(adminsRaw);
    std::vector<unsigned char> group;
    if (withVexilGroup) {
        group = accountSid("vexil", path);
    }
    WellKnownSid everyone;
    if (everyoneRead || everyoneWrite) {
        SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
        PSID raw = nullptr;
        if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &raw)) {
            fail("ZRKNV0024_ALLOCATEANDINITIALIZESID_ERROR", lastError(), path);
        }
        everyone.reset(raw);
    }

    DWORD size = sizeof(ACL);
    auto entrySize = [](PSID sid) { return static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid)); };
    size += entrySize(user.data()) + entrySize(admins.get());
    if (!group.empty()) {
        size += entrySize(group.data());
    }
    if (everyone) {
        size += entrySize(everyone.get());
    }
    size = (size + 3) & ~3u;
    acl.assign(size, 0);
    if (!InitializeAcl(get(), size, ACL_REVISION)) {
        fail("ZRKNV0025_INITIALIZEACL_ERROR", lastError(), path);
    }
    const DWORD full = directory ? (GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | STANDARD_RIGHTS_ALL)
                                 : (GENERIC_READ | GENERIC_WRITE | STANDARD_RIGHTS_ALL);
    add(path, user.data(), full, "ZRKNV0026_ADDACCESSALLOWEDACE_ERROR");
    add(path, admins.get(), full, "ZRKNV0027_ADDACCESSALLOWEDACE_ERROR");
    if (!group.empty()) {
        add(path, group.data(), full, "ZRKNV0027_ADDACCESSALLOWEDACE_ERROR");
    }
    if (everyone) {
        DWORD mask = 0;
        if (everyoneRead) {
            mask |= GENERIC_READ | (directory ? GENERIC_EXECUTE : 0);
        }
        if (everyoneWrite) {
            mask |= GENERIC_WRITE | STANDARD_RIGHTS_ALL;
        }
        add(path, everyone.get(), mask, "ZRKNV0028_ADDACCESSALLOWEDACE_ERROR");
    }
}

void FileAccessList::add(const std::string& path, PSID sid, DWORD mask, const char* key)
{
    if (!AddAccessAllowedAceEx(get(), ACL_REVISION, inheritance, mask, sid)) {
        fail(key, lastError(), path);
    }
}

void FileAccessList::writeTo(const std::string& path)
{
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        fail("ZRKNV0029_INITIALIZESECURITYDESCRIPTOR_ERROR", lastError(), path);
    }
    if (!SetSecurityDescriptorDacl(&descriptor, TRUE, get(), FALSE)) {
        fail("ZRKNV0030_SETSECURITYDESCRIPTORDACL_ERROR", lastError(), path);
    }
    if (!SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, &descriptor)) {
        fail("ZRKNV0031_SETFILESECURITY_ERROR", lastError(), path);
    }
}
