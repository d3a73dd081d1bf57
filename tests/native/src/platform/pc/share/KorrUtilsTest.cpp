#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DiagnosticsTestSupport.h"
#include "FileAccessList.h"
#include "FilePermissionsException.h"
#include "KorrUtils.h"
#include "TempDir.h"
#include "UnderWine.h"

namespace {

std::vector<unsigned char> wellKnown(WELL_KNOWN_SID_TYPE type)
{
    std::vector<unsigned char> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    EXPECT_TRUE(CreateWellKnownSid(type, nullptr, sid.data(), &size));
    return sid;
}

std::vector<unsigned char> currentUser()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    std::vector<unsigned char> buffer(512);
    DWORD size = 0;
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size));
    CloseHandle(token);
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const unsigned char* bytes = static_cast<const unsigned char*>(sid);
    return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid));
}

struct Entry {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::vector<unsigned char> sid;
};

std::vector<Entry> entries(PACL acl)
{
    std::vector<Entry> result;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        EXPECT_TRUE(GetAce(acl, i, &ace));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        const unsigned char* sid = reinterpret_cast<const unsigned char*>(&allowed->SidStart);
        result.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask,
                          std::vector<unsigned char>(sid, sid + GetLengthSid(const_cast<unsigned char*>(sid)))});
    }
    return result;
}

bool same(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    return EqualSid(const_cast<unsigned char*>(a.data()), const_cast<unsigned char*>(b.data()));
}

std::string groupInError(const std::string& path, PACL acl)
{
    try {
        KorrUtils::checkAccessList(path, acl);
        return "";
    } catch (const FilePermissionsException& e) {
        return e.toString();
    }
}

} // namespace

// This machine has no "vexil" account, so the group entry is left out.
TEST(KorrUtilsTest, AccessListsHoldUserAdministratorsAndEveryoneInOrderWithTheirMasks)
{
    const DWORD fileFull = GENERIC_READ | GENERIC_WRITE | STANDARD_RIGHTS_ALL;
    FileAccessList priv("file", false, false, false, false);
    std::vector<Entry> list = entries(priv.get());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_TRUE(same(list[0].sid, currentUser()));
    EXPECT_TRUE(same(list[1].sid, wellKnown(WinBuiltinAdministratorsSid)));
    for (const Entry& e : list) {
        EXPECT_EQ(e.type, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(e.mask, fileFull);
        EXPECT_EQ(e.flags, 0); // a file's entries are not inherited
    }

    FileAccessList vexil("file", false, true, true, true);
    list = entries(vexil.get());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_TRUE(same(list[2].sid, wellKnown(WinWorldSid)));
    EXPECT_EQ(list[2].mask, GENERIC_READ | GENERIC_WRITE | STANDARD_RIGHTS_ALL);

    FileAccessList directory("dir", true, false, true, false);
    list = entries(directory.get());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].mask, fileFull | GENERIC_EXECUTE);
    EXPECT_EQ(list[2].mask, GENERIC_READ | GENERIC_EXECUTE);
    for (const Entry& e : list) {
        EXPECT_EQ(e.flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    }
}

TEST(KorrUtilsTest, PermissionCheckFindsUsersUnlessAnEarlierEntryShutsThemOut)
{
    std::vector<unsigned char> users = wellKnown(WinBuiltinUsersSid);
    std::vector<unsigned char> buffer(1024);
    PACL acl = reinterpret_cast<PACL>(buffer.data());

    ASSERT_TRUE(InitializeAcl(acl, static_cast<DWORD>(buffer.size()), ACL_REVISION));
    ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, users.data()));
    std::string error = groupInError("C:\\f", acl);
    EXPECT_NE(error.find("ZRKNV0145"), std::string::npos) << error;
    EXPECT_NE(error.find("Users"), std::string::npos) << error;

    ASSERT_TRUE(InitializeAcl(acl, static_cast<DWORD>(buffer.size()), ACL_REVISION));
    ASSERT_TRUE(AddAccessDeniedAce(acl, ACL_REVISION, STANDARD_RIGHTS_ALL | SPECIFIC_RIGHTS_ALL, users.data()));
    ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, users.data()));
    EXPECT_EQ(groupInError("C:\\f", acl), "");

    error = groupInError("C:\\f", nullptr);
    EXPECT_NE(error.find("ZRKNV0146"), std::string::npos) << error;

    // What mkpriv builds passes; with Everyone reading it does not.
    FileAccessList priv("f", false, false, false, false);
    EXPECT_EQ(groupInError("C:\\f", priv.get()), "");
    FileAccessList open("f", false, false, true, false);
    EXPECT_NE(groupInError("C:\\f", open.get()).find("Everyone"), std::string::npos);
}

// Another user stands as this process's token with its user and Administrators made
// deny-only: what is left is Everyone, Users and the like.
TEST(KorrUtilsTest, AnotherUserMayOnlyReadWhatEveryoneMayRead)
{
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token));
    std::vector<unsigned char> user = currentUser();
    std::vector<unsigned char> admins = wellKnown(WinBuiltinAdministratorsSid);
    SID_AND_ATTRIBUTES disabled[2] = {{user.data(), 0}, {admins.data(), 0}};
    HANDLE restricted = nullptr;
    BOOL made = CreateRestrictedToken(token, 0, 2, disabled, 0, nullptr, 0, nullptr, &restricted);
    CloseHandle(token);
    ASSERT_TRUE(made) << GetLastError();
    std::vector<unsigned char> userInfo(512);
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(restricted, TokenUser, userInfo.data(), static_cast<DWORD>(userInfo.size()), &size));
    if (!(reinterpret_cast<TOKEN_USER*>(userInfo.data())->User.Attributes & SE_GROUP_USE_FOR_DENY_ONLY)) {
        CloseHandle(restricted);
        ASSERT_TRUE(underWine()) << "the restricted token kept its user usable";
        GTEST_SKIP() << "Wine ignores the deny-only user of a restricted token";
    }
    HANDLE impersonation = nullptr;
    ASSERT_TRUE(DuplicateToken(restricted, SecurityImpersonation, &impersonation));
    CloseHandle(restricted);

    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    auto granted = [&](PACL acl, DWORD wanted) {
        SECURITY_DESCRIPTOR sd;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
        SetSecurityDescriptorOwner(&sd, admins.data(), FALSE);
        SetSecurityDescriptorGroup(&sd, admins.data(), FALSE);
        MapGenericMask(&wanted, &mapping);
        PRIVILEGE_SET privileges;
        DWORD privilegesSize = sizeof privileges, grantedAccess = 0;
        BOOL status = FALSE;
        EXPECT_TRUE(AccessCheck(&sd, impersonation, wanted, &mapping, &privileges, &privilegesSize, &grantedAccess,
                                &status));
        return status == TRUE;
    };
    FileAccessList priv("f", false, false, false, false);
    EXPECT_FALSE(granted(priv.get(), GENERIC_READ));
    FileAccessList readable("f", false, false, true, false);
    EXPECT_TRUE(granted(readable.get(), GENERIC_READ));
    EXPECT_FALSE(granted(readable.get(), GENERIC_WRITE));
    CloseHandle(impersonation);
}

TEST(KorrUtilsTest, MkdirsCreatesEveryLevelAndAnExistingFileFails)
{
    TempDir dir;
    std::string deep = dir.path() + "\\a\\b/c";
    EXPECT_EQ(KorrUtils::mkdirs(deep, true), 0);
    DWORD attributes = GetFileAttributesA(deep.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(KorrUtils::mkdirs(deep, true), 0);
    std::string file = dir.write("plain", "x");
    EXPECT_EQ(KorrUtils::mkdirs(file, false), -1);
    EXPECT_EQ(KorrUtils::getLastErrorMessage(0x7fff0001), std::to_string(0x7fff0001));
}

// A log name taken by a directory is refused with the reason; a file is opened.
TEST(KorrUtilsTest, OpenFileRefusesWhatIsNotARegularFile)
{
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.file("planted.log").c_str(), nullptr));
    std::string refusal;
    std::FILE* file = KorrUtils::openFile(dir.file("planted.log"), false, false, &refusal);
    EXPECT_EQ(file, nullptr);
    EXPECT_NE(refusal.find("ZRKNV0189"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("not a regular file"), std::string::npos) << refusal;
    if (file) {
        std::fclose(file);
    }
    refusal.clear();
    file = KorrUtils::openFile(dir.file("a.log"), true, false, &refusal);
    ASSERT_NE(file, nullptr) << refusal;
    EXPECT_EQ(refusal, "");
    std::fclose(file);
}

// File handlers open their next file under their write lock, which a thread holding the trace
// lock may be waiting for: opening (and making private) a new file must not trace, even with
// everything traced, while making a path private on its own does.
TEST_F(DiagnosticsTest, OpenFileTracesNothingWhileItMakesANewFilePrivate)
{
    RAS::setLevel("=all");
    TempDir dir;
    trace->clear();
    std::string refusal;
    std::FILE* file = KorrUtils::openFile(dir.file("next.log"), false, true, &refusal);
    ASSERT_NE(file, nullptr) << refusal;
    std::fclose(file);
    {
        std::lock_guard<std::mutex> hold(trace->lock);
        EXPECT_TRUE(trace->lines.empty()) << trace->lines.front();
    }
    KorrUtils::mkpriv(dir.file("next.log"), true, false);   // the trace does reach the handler
    std::lock_guard<std::mutex> hold(trace->lock);
    EXPECT_FALSE(trace->lines.empty());
}
