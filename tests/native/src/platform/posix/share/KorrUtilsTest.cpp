#include <atomic>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "FilePermissionsException.h"
#include "KorrException.h"
#include "KorrIOException.h"
#include "KorrUtils.h"
#include "NativeProperties.h"
#include "SpawnedChild.h"
#include "TempDir.h"
#include "TestChild.h"

// Counts the runtime's look-ups of "vexil" on their way to the C library.
std::atomic<int> vexilLookups(0);

extern "C" int getgrnam_r(const char* name, struct group* entry, char* buffer, size_t size, struct group** result)
{
    using Real = int (*)(const char*, struct group*, char*, size_t, struct group**);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getgrnam_r"));
    if (std::strcmp(name, "vexil") == 0) {
        ++vexilLookups;
    }
    return real(name, entry, buffer, size, result);
}

namespace {

const uid_t NOBODY = 65534;
const gid_t NOGROUP = 65534;
const gid_t USERS = 100;

mode_t modeOf(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return static_cast<mode_t>(-1);
    }
    return st.st_mode & 07777;
}

gid_t groupOf(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_gid : static_cast<gid_t>(-1);
}

std::string permissionFailure(const std::string& path)
{
    try {
        KorrUtils::checkFilePermissions(path);
    } catch (const FilePermissionsException& e) {
        return e.getMessage();
    }
    return "";
}

std::string ioFailure(void (*operation)(const std::string&), const std::string& path)
{
    try {
        operation(path);
    } catch (const KorrIOException& e) {
        return e.getMessage();
    }
    return "";
}

bool groupExists(const char* name) { return getgrnam(name) != nullptr; }

} // namespace

TEST(KorrUtilsTest, MkdirsCreatesAndProtectsEveryMissingLevel)
{
    TempDir dir;
    std::string deep = dir.file("a/b/c");
    mode_t oldMask = umask(0); // a permissive umask must not leak into the created levels
    int rc = KorrUtils::mkdirs(deep, false);
    umask(oldMask);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(modeOf(dir.file("a")), 0700u);
    EXPECT_EQ(modeOf(dir.file("a/b")), 0700u);
    EXPECT_EQ(modeOf(deep), 0700u);

    ASSERT_EQ(KorrUtils::mkdirs(dir.file("r/s"), true), 0);
    EXPECT_EQ(modeOf(dir.file("r")), 0705u); // readable by others, never writable
    EXPECT_EQ(modeOf(dir.file("r/s")), 0705u);
}

TEST(KorrUtilsTest, MkdirsLeavesExistingLevelsAloneAndRefusesFiles)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("open").c_str(), 0700), 0);
    ASSERT_EQ(chmod(dir.file("open").c_str(), 0751), 0);
    EXPECT_EQ(KorrUtils::mkdirs(dir.file("open"), false), 0);
    EXPECT_EQ(modeOf(dir.file("open")), 0751u);
    EXPECT_EQ(KorrUtils::mkdirs(dir.file("open/new"), false), 0);
    EXPECT_EQ(modeOf(dir.file("open")), 0751u);
    EXPECT_EQ(modeOf(dir.file("open/new")), 0700u);

    std::string file = dir.write("plain", "x");
    errno = 0;
    EXPECT_EQ(KorrUtils::mkdirs(file, false), -1);
    EXPECT_EQ(errno, EEXIST); // callers report the failure through getLastErrorMessage
    EXPECT_EQ(KorrUtils::mkdirs(file + "/below/deeper", false), -1);
    EXPECT_EQ(KorrUtils::mkdirs("", false), 0);
}

TEST(KorrUtilsTest, MkprivSetsOwnerOnlyOrTheRequestedOtherBits)
{
    TempDir dir;
    std::string file = dir.write("f", "x");
    ASSERT_EQ(chmod(file.c_str(), 06777), 0);
    KorrUtils::mkpriv(file, false, false);
    EXPECT_EQ(modeOf(file), 0700u); // owner execute kept; group, others and set-id bits gone
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    KorrUtils::mkpriv(file, false, false);
    EXPECT_EQ(modeOf(file), 0600u);
    KorrUtils::mkpriv(file, true, false);
    EXPECT_EQ(modeOf(file), 0604u);
    KorrUtils::mkpriv(file, true, true);
    EXPECT_EQ(modeOf(file), 0606u);

    std::string sub = dir.file("d");
    ASSERT_EQ(mkdir(sub.c_str(), 0777), 0);
    KorrUtils::mkpriv(sub, true, false);
    EXPECT_EQ(modeOf(sub), 0705u);
    KorrUtils::mkpriv(sub, true, true);
    EXPECT_EQ(modeOf(sub), 01707u); // sticky: others cannot replace what they do not own
    KorrUtils::mkpriv(sub, false, false);
    EXPECT_EQ(modeOf(sub), 0700u);

    std::string message = ioFailure([](const std::string& p) { KorrUtils::mkpriv(p, false, false); }, dir.file("missing"));
    EXPECT_NE(message.find("ZRKNV0031"), std::string::npos) << message;
}

TEST(KorrUtilsTest, VexilIsLookedUpOncePerProcess)
{
    TempDir dir;
    std::string file = dir.write("f", "x");
    KorrUtils::mkGroupVexilWrite(file, false);
    int before = vexilLookups.load();
    KorrUtils::mkGroupVexilWrite(file, false);
    KorrUtils::mkGroupVexilWrite(file, true);
    EXPECT_EQ(vexilLookups.load(), before);
    EXPECT_EQ(modeOf(file) & 07, 06u);
}

TEST(KorrUtilsTest, GroupWriteGivesTheFileToTheGroupWithReadAndWrite)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give files to any group";
    }
    TempDir dir;
    std::string file = dir.write("f", "x");
    KorrUtils::mkGroupVexilWrite(file, false);
    if (groupExists("vexil")) {
        EXPECT_EQ(groupOf(file), getgrnam("vexil")->gr_gid);
        EXPECT_EQ(modeOf(file), 0664u);
    } else {
        EXPECT_EQ(modeOf(file), 0604u); // the missing group is left out
    }
    KorrUtils::mkGroupVexilWrite(file, true);
    EXPECT_EQ(modeOf(file) & 07, 06u);

    ASSERT_TRUE(groupExists("users"));
    KorrUtils::mkGroupWrite(file, "users", false);
    EXPECT_EQ(groupOf(file), USERS);
    EXPECT_EQ(modeOf(file), 0664u);
    std::string sub = dir.file("d");
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    KorrUtils::mkGroupWrite(sub, "users", true);
    EXPECT_EQ(groupOf(sub), USERS);
    EXPECT_EQ(modeOf(sub), 03777u); // set-group-id: new entries keep the group; sticky

    try {
        KorrUtils::mkGroupWrite(file, "no-such-group-here", false);
        ADD_FAILURE() << "an unknown group was accepted";
    } catch (const KorrIOException& e) {
        EXPECT_NE(e.getMessage().find("ZRKNV0172"), std::string::npos) << e.getMessage();
    }
}

TEST(KorrUtilsTest, CheckFilePermissionsRefusesFilesOpenToOthersOrBroadGroups)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give files to any group";
    }
    TempDir dir;
    std::string file = dir.write("f", "secret");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(chown(file.c_str(), static_cast<uid_t>(-1), USERS), 0);
    EXPECT_EQ(permissionFailure(file), ""); // a broad group without group bits is harmless

    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    std::string message = permissionFailure(file);
    EXPECT_NE(message.find("ZRKNV0145"), std::string::npos) << message;
    EXPECT_NE(message.find("group Users has access"), std::string::npos) << message;

    ASSERT_EQ(chown(file.c_str(), static_cast<uid_t>(-1), NOGROUP), 0);
    ASSERT_EQ(chmod(file.c_str(), 0620), 0);
    EXPECT_NE(permissionFailure(file).find("group Guests has access"), std::string::npos);

    ASSERT_EQ(chown(file.c_str(), static_cast<uid_t>(-1), 0), 0);
    ASSERT_EQ(chmod(file.c_str(), 0660), 0);
    EXPECT_EQ(permissionFailure(file), ""); // the owner's own group is not a broad one
    ASSERT_EQ(chmod(file.c_str(), 0601), 0);
    message = permissionFailure(file);
    EXPECT_NE(message.find("group Everyone has access"), std::string::npos) << message;
    EXPECT_NE(message.find(file), std::string::npos) << message;

    KorrUtils::mkpriv(file, false, false);
    EXPECT_EQ(permissionFailure(file), "");
    EXPECT_NE(permissionFailure(dir.file("missing")).find("ZRKNV0140"), std::string::npos);
}

TEST(KorrUtilsTest, ChmodChangesTheModeOrReportsWhyNot)
{
    TempDir dir;
    std::string file = dir.write("f", "x");
    KorrUtils::chmod(file, 0640);
    EXPECT_EQ(modeOf(file), 0640u);
    std::string message = ioFailure([](const std::string& p) { KorrUtils::chmod(p, 0600); }, dir.file("missing"));
    EXPECT_NE(message.find("ZRKNV0179"), std::string::npos) << message;
    EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;
}

TEST(KorrUtilsTest, PathsAreCutAtTheLaterOfEitherSeparator)
{
    EXPECT_EQ(KorrUtils::getParent("a/b\\c"), "a/b");
    EXPECT_EQ(KorrUtils::getName("a/b\\c"), "c");
    EXPECT_EQ(KorrUtils::getParent("a\\b/c"), "a\\b");
    EXPECT_EQ(KorrUtils::getName("a\\b/c"), "c");
    EXPECT_EQ(KorrUtils::getParent("bare"), "");
    EXPECT_EQ(KorrUtils::getName("bare"), "bare");
}

TEST(KorrUtilsTest, ErrorTextsFallBackToTheDecimalCode)
{
    EXPECT_EQ(KorrUtils::getLastErrorMessage(98765), "98765");
    EXPECT_EQ(KorrUtils::getLastErrorMessage(ENOENT), "No such file or directory");
    errno = EACCES;
    EXPECT_EQ(KorrUtils::getLastErrorMessage(), "Permission denied");
}

TEST(KorrUtilsTest, RootHasSpecialAuthorityAndItsOwnGroup)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    EXPECT_TRUE(KorrUtils::doesCurrentUserHaveSpecialAuthority("anything"));
    EXPECT_EQ(KorrUtils::getUID(), std::to_string(getuid()));
    EXPECT_TRUE(KorrUtils::isCurrentUserMemberOfGroup("root"));
    EXPECT_FALSE(KorrUtils::isCurrentUserMemberOfGroup("Root")); // names compare exactly
}

// Drops to nobody (group nogroup, supplementary group users) and checks what such a user
// sees; argv[1] is a root-owned directory, argv[2] a directory nobody may write.
OSTARA_TEST_CHILD_ROLE(asNobody)
{
    if (argc < 3) {
        return 2;
    }
    const gid_t groups[] = {USERS};
    if (setgroups(1, groups) != 0 || setgid(NOGROUP) != 0 || setuid(NOBODY) != 0) {
        std::fprintf(stderr, "cannot become nobody\n");
        return 3;
    }
    int failures = 0;
    auto check = [&failures](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "FAILED: %s\n", what);
            ++failures;
        }
    };
    std::string rootDir = argv[1];
    std::string own = argv[2];
    check(KorrUtils::getUID() == "65534", "getUID is the real uid");
    check(!KorrUtils::doesCurrentUserHaveSpecialAuthority("x"), "nobody has no special authority");
    check(KorrUtils::isCurrentUserMemberOfGroup("users"), "member of a supplementary group");
    check(KorrUtils::isCurrentUserMemberOfGroup("nogroup"), "member of the effective group");
    check(!KorrUtils::isCurrentUserMemberOfGroup("root"), "not a member of root");
    check(KorrUtils::mkdirs(rootDir + "/x/y", false) == -1, "mkdirs under a foreign directory fails");

    std::string chmodMessage;
    try {
        KorrUtils::chmod(rootDir, 0777);
    } catch (const KorrIOException& e) {
        chmodMessage = e.getMessage();
    }
    check(chmodMessage.find("ZRKNV0179") != std::string::npos &&
              chmodMessage.find("Operation not permitted") != std::string::npos,
          "chmod of a foreign file fails with ZRKNV0179");

    std::string file = own + "/mine";
    std::ofstream(file) << "x";
    bool refused = false;
    try {
        KorrUtils::mkGroupWrite(file, "root", false);
    } catch (const KorrIOException&) {
        refused = true;
    }
    check(refused, "a group the user is not in cannot be given");
    KorrUtils::mkGroupVexilWrite(file, false); // whatever vexil is, this must not throw
    KorrUtils::mkGroupWrite(file, "users", false);
    check(groupOf(file) == USERS && modeOf(file) == 0664, "mkGroupWrite to an own group");
    std::string message;
    try {
        KorrUtils::checkFilePermissions(file);
    } catch (const FilePermissionsException& e) {
        message = e.getMessage();
    }
    check(message.find("ZRKNV0145") != std::string::npos && message.find("Everyone") != std::string::npos,
          "the group-written file is open to others");
    KorrUtils::chmod(file, 0660);
    message.clear();
    try {
        KorrUtils::checkFilePermissions(file);
    } catch (const FilePermissionsException& e) {
        message = e.getMessage();
    }
    check(message.find("ZRKNV0145") != std::string::npos && message.find("Users") != std::string::npos,
          "a file of group users with group bits");
    KorrUtils::mkpriv(file, false, false);
    check(modeOf(file) == 0600, "mkpriv by a non-root owner");
    return failures == 0 ? 0 : 1;
}

TEST(KorrUtilsTest, NonRootUserSeesItsOwnIdentityAndLimits)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop to nobody";
    }
    TempDir rootOwned;
    TempDir forNobody;
    ASSERT_EQ(chmod(rootOwned.path().c_str(), 0755), 0);
    ASSERT_EQ(chown(forNobody.path().c_str(), NOBODY, NOGROUP), 0);
    SpawnedChild child("asNobody", {rootOwned.path(), forNobody.path()});
    int status = child.wait(30000);
    ASSERT_NE(status, -1) << "child did not end";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Runs the session check in a grandchild that leads no process group, in a session of its
// own whose controlling terminal is a fresh pseudo-terminal (withTerminal) or none, so the
// result does not depend on where the test was started. Prints "<leader before> <after>".
static int checkSessionInGrandchild(bool withTerminal)
{
    if (::setsid() < 0) {
        return 3;
    }
    if (withTerminal) {
        int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            return 4;
        }
        // A session leader opening a terminal without O_NOCTTY acquires it.
        int slave = ::open(::ptsname(master), O_RDWR);
        if (slave < 0) {
            return 5;
        }
    }
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        bool leaderBefore = getsid(0) == getpid();
        KorrUtils::newProcessSession();
        KorrUtils::newProcessSession(); // a leader by now, or kept: either way nothing more
        std::printf("%d %d\n", leaderBefore ? 1 : 0, getsid(0) == getpid() ? 1 : 0);
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : 6;
}

OSTARA_TEST_CHILD_ROLE(newSession)
{
    (void)argc;
    return checkSessionInGrandchild(std::string(argv[1]) == "terminal");
}

// Without a controlling terminal the program leaves its starter's session; from a terminal it
// stays in it, so that Ctrl-C there still reaches it.
TEST(KorrUtilsTest, NewProcessSessionLeavesTheCallersSessionOnlyWithoutATerminal)
{
    for (const char* mode : {"none", "terminal"}) {
        SpawnedChild child("newSession", {mode});
        int status = child.wait(30000);
        ASSERT_NE(status, -1) << mode;
        ASSERT_TRUE(WIFEXITED(status)) << mode;
        EXPECT_EQ(WEXITSTATUS(status), 0) << mode;
        EXPECT_EQ(child.output(), std::string(mode) == "none" ? "0 1\n" : "0 0\n") << mode;
    }
}

// A log file name that is a symbolic link is not written through, however it got there.
TEST(KorrUtilsTest, OpenFileRefusesASymbolicLinkAndLeavesItsTargetAlone)
{
    TempDir dir;
    std::string target = dir.write("target", "kept\n");
    std::string link = dir.file("events.log");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    errno = 0;
    EXPECT_EQ(KorrUtils::openFile(link, false, false), nullptr);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(dir.read("target"), "kept\n");
    std::FILE* plain = KorrUtils::openFile(dir.file("plain.log"), false, false);
    ASSERT_NE(plain, nullptr);   // an ordinary name still opens
    std::fclose(plain);
}

// A FIFO planted where a properties file or catalogue is expected is refused at once; waiting
// for a writer would hang the service at start or at the monitor's next reload.
TEST(KorrUtilsTest, AFifoAtAFileToReadIsRefusedWithoutWaiting)
{
    TempDir dir;
    std::string fifo = dir.file("agent.properties");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::string content;
    errno = 0;
    EXPECT_FALSE(KorrUtils::readFile(fifo, content));
    EXPECT_EQ(EINVAL, errno);
    auto loading = std::async(std::launch::async, [&] {
        NativeProperties p;
        try {
            p.loadProperties(fifo);
        } catch (const KorrException& e) {
            return e.getMessage();
        }
        return std::string("loaded");
    });
    if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);   // lets a blocked reader go
        ::close(writer);
        ADD_FAILURE() << "loading a FIFO waited for a writer";
    }
    EXPECT_NE(std::string::npos, loading.get().find("ZRKNV0122")) << "refused as a file that cannot be opened";
    EXPECT_TRUE(KorrUtils::readFile(dir.write("plain.properties", "a=1\n"), content));
    EXPECT_EQ("a=1\n", content);
}

