#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "FileLock.h"
#include "KorrIOException.h"
#include "SpawnedChild.h"
#include "TempDir.h"
#include "TestChild.h"

namespace {

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

mode_t modeOf(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : static_cast<mode_t>(-1);
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string lockFailure(const std::string& name)
{
    try {
        std::unique_ptr<FileLock> lock(FileLock::newInstance(name, false, false));
    } catch (const KorrIOException& e) {
        return e.getMessage();
    }
    return "";
}

} // namespace

// Takes the lock named by argv[1] with a ".pid" file, says so, and waits to be killed.
OSTARA_TEST_CHILD_ROLE(holdLock)
{
    if (argc < 2) {
        return 2;
    }
    std::unique_ptr<FileLock> lock(FileLock::newInstance(argv[1], false, true));
    std::printf("locked\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 1;
}

TEST(FileLockImplTest, LockOfAKilledHolderIsFreeForTheNext)
{
    TempDir dir;
    std::string name = dir.file("ostarapc.lck");
    SpawnedChild holder("holdLock", {name});
    ASSERT_TRUE(holder.waitForOutput("locked\n", 20000)) << holder.output();
    EXPECT_EQ(contents(dir.file("ostarapc.pid")), std::to_string(holder.pid()));

    std::string message = lockFailure(name);
    EXPECT_NE(message.find("ZRKNV0057"), std::string::npos) << message;

    ASSERT_EQ(kill(holder.pid(), SIGKILL), 0);
    int status = holder.wait(20000);
    ASSERT_TRUE(WIFSIGNALED(status));

    // The dead holder's ".pid" file is still there; the next holder overwrites it whole.
    std::ofstream(dir.file("ostarapc.pid")) << "123456789012345";
    std::unique_ptr<FileLock> next(FileLock::newInstance(name, false, true));
    EXPECT_EQ(contents(dir.file("ostarapc.pid")), std::to_string(getpid()));
}

// Only the owner may open the lock file at all (another user who could read it could hold
// the lock with flock() and keep the controller from starting); the ".pid" file is readable.
TEST(FileLockImplTest, LockFilesAreTheOwnersAlonePidFilesNeverWritableByOthers)
{
    TempDir dir;
    std::string name = dir.file("a.lck");
    mode_t oldMask = umask(0);
    {
        std::unique_ptr<FileLock> lock(FileLock::newInstance(name, false, true));
        EXPECT_EQ(modeOf(name), 0600u);
        EXPECT_EQ(modeOf(dir.file("a.pid")), 0644u);
    }
    umask(oldMask);
    EXPECT_TRUE(exists(name));
    EXPECT_FALSE(exists(dir.file("a.pid")));

    // Files left by a crash of an older, more generous holder are narrowed.
    ASSERT_EQ(chmod(name.c_str(), 0644), 0);
    std::ofstream(dir.file("a.pid")) << "1";
    ASSERT_EQ(chmod(dir.file("a.pid").c_str(), 0606), 0);
    std::unique_ptr<FileLock> again(FileLock::newInstance(name, false, true));
    EXPECT_EQ(modeOf(name), 0600u);
    EXPECT_EQ(modeOf(dir.file("a.pid")), 0644u);
}

// At release only the files this lock made go: once the directory on the way has been
// replaced by a link to another one holding files of the same names, nothing there is removed.
TEST(FileLockImplTest, ReleaseRemovesOnlyItsOwnFilesEvenThroughADirectorySwappedForALink)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("work").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("victim").c_str(), 0755), 0);
    std::string victimLock = dir.write("victim/a.lck", "");
    std::string victimPid = dir.write("victim/a.pid", "42");
    std::unique_ptr<FileLock> lock(FileLock::newInstance(dir.file("work/a.lck"), false, true));
    ASSERT_EQ(rename(dir.file("work").c_str(), dir.file("work.old").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("work").c_str()), 0);
    EXPECT_FALSE(lock->removeLockFile());
    lock.reset();
    EXPECT_TRUE(exists(victimLock));
    EXPECT_EQ(contents(victimPid), "42");

    std::unique_ptr<FileLock> own(FileLock::newInstance(dir.file("work.old/b.lck"), false, true));
    EXPECT_TRUE(own->removeLockFile());
    own.reset();
    EXPECT_FALSE(exists(dir.file("work.old/b.lck")));
    EXPECT_FALSE(exists(dir.file("work.old/b.pid")));
}

// A lock name that is a symbolic link is refused, so neither the lock nor the ".pid" file that
// is emptied and rewritten reaches the file it points to.
TEST(FileLockImplTest, SymbolicLinkAsLockFileIsRefused)
{
    TempDir dir;
    std::string target = dir.write("target", "kept\n");
    ASSERT_EQ(symlink(target.c_str(), dir.file("a.lck").c_str()), 0);
    EXPECT_THROW(delete FileLock::newInstance(dir.file("a.lck"), false, false), KorrIOException);
    ASSERT_EQ(symlink(target.c_str(), dir.file("b.pid").c_str()), 0);
    EXPECT_THROW(delete FileLock::newInstance(dir.file("b.lck"), false, true), KorrIOException);
    EXPECT_EQ(contents(target), "kept\n");
    // A FIFO in the lock's place is refused at once instead of hanging the open.
    ASSERT_EQ(mkfifo(dir.file("c.lck").c_str(), 0666), 0);
    try {
        delete FileLock::newInstance(dir.file("c.lck"), false, false);
        ADD_FAILURE() << "a FIFO was taken as a lock";
    } catch (const KorrIOException& e) {
        EXPECT_NE(e.getMessage().find("not a regular file"), std::string::npos) << e.getMessage();
    }
}
