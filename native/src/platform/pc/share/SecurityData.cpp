#include "SecurityData.h"

SecurityData::SecurityData() : descriptor(), attributes()
{
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = FALSE;
}

bool SecurityData::build()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &admins)) {
        return false;
    }
    bool ok = false;
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) ||
        (GetLastError() == ERROR_NO_TOKEN && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))) {
        DWORD size = 0;
        if (!GetTokenInformation(token, TokenUser, nullptr, 0, &size) && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            tokenUser.assign(size, 0);
            if (GetTokenInformation(token, TokenUser, tokenUser.data(), size, &size)) {
                PSID user = reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
                DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                                GetLengthSid(admins) + GetLengthSid(user);
                acl.assign(aclSize, 0);
                PACL list = reinterpret_cast<PACL>(acl.data());
                ok = InitializeAcl(list, aclSize, ACL_REVISION) &&
                     AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, admins) &&
                     AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, user) &&
                     InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                     SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE);
            }
        }
        DWORD saved = GetLastError();
        CloseHandle(token);
        SetLastError(saved);
    }
    DWORD saved = GetLastError();
    FreeSid(admins);
    if (!ok) {
        acl.clear();
        tokenUser.clear();
        SetLastError(saved);
        return false;
    }
    attributes.lpSecurityDescriptor = &descriptor;
    return true;
}
