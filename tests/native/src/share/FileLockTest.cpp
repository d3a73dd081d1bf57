#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "FileLock.h"
#include "KorrIOException.h"
#include "KorrUtils.h"
#include "TempDir.h"

namespace {

// The catalogue message of a failed lock attempt, empty when the lock was granted.
std::string attempt(const std::string& name, bool readLock)
{
    try {
        std::unique_ptr<FileLock> lock(FileLock::newInstance(name, readLock, false));
    } catch (const KorrIOException& e) {
        return e.getMessage();
    }
    return "";
}

} // namespace

TEST(FileLockTest, SecondLockInTheSameProcessFailsUntilTheFirstIsDeleted)
{
    TempDir dir;
    std::string name = dir.file("ostarapc.lck");
    std::unique_ptr<FileLock> first(FileLock::newInstance(name, false, false));
    std::string message = attempt(name, false);
    EXPECT_NE(message.find("ZRKNV0057"), std::string::npos) << message;
    EXPECT_NE(message.find(name), std::string::npos) << message;
    EXPECT_NE(attempt(name, true), "") << "a read lock beside a write lock";
    first.reset();
    EXPECT_EQ(attempt(name, false), "");
    EXPECT_TRUE(std::filesystem::exists(name)); // the lock file outlives the lock
}

TEST(FileLockTest, ReadLocksShareButExcludeAWriter)
{
    TempDir dir;
    std::string name = dir.file("r.lck");
    std::unique_ptr<FileLock> one(FileLock::newInstance(name, true, false));
    std::unique_ptr<FileLock> two(FileLock::newInstance(name, true, false));
    EXPECT_NE(attempt(name, false).find("ZRKNV0057"), std::string::npos);
    one.reset();
    EXPECT_NE(attempt(name, false), "");
    two.reset();
    EXPECT_EQ(attempt(name, false), "");
}

TEST(FileLockTest, PidFileAccompaniesOnlyLckNamesAndGoesWithTheLock)
{
    TempDir dir;
    std::string name = dir.file("ostarapc.lck");
    std::string pid = dir.file("ostarapc.pid");
    {
        std::unique_ptr<FileLock> lock(FileLock::newInstance(name, false, true));
        std::ifstream in(pid);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_not_of("0123456789"), std::string::npos) << text; // no line ending
        EXPECT_EQ(lock->getPidFileName(), pid);
        std::ostringstream printed;
        printed << *lock;
        EXPECT_EQ(printed.str(), pid);
    }
    EXPECT_FALSE(std::filesystem::exists(pid));
    EXPECT_TRUE(std::filesystem::exists(name));

    std::string odd = dir.file("other.lock");
    std::unique_ptr<FileLock> lock(FileLock::newInstance(odd, false, true));
    EXPECT_EQ(lock->getPidFileName(), "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("other.pid")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("other.lock.pid")));
    EXPECT_NE(attempt(odd, false), "") << "the lock is held without a .pid file";
}

TEST(FileLockTest, UnopenableFileIsReportedAsALockFailure)
{
    TempDir dir;
    std::string message = attempt(dir.file("no/such/dir/x.lck"), false);
    EXPECT_NE(message.find("ZRKNV0057"), std::string::npos) << message;
    // The reason is the system's own text for the missing directory, as another open meets it.
    ASSERT_EQ(KorrUtils::openFile(dir.file("no/such/dir/y.log"), false, false), nullptr);
    std::string missing = KorrUtils::getLastErrorMessage();
    EXPECT_NE(message.find("Reason: " + missing), std::string::npos) << message << " / " << missing;
}
