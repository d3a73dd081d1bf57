#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "FileLock.h"
#include "KorrIOException.h"
#include "TempDir.h"

#include <windows.h>

// The exception is thrown inside ostara.dll and caught here by its own type: one C++ runtime
// serves both modules.
TEST(FileLockImplTest, ASecondLockFailsUntilTheFirstIsDeletedAndThePidFileComesAndGoes)
{
    TempDir dir;
    std::string name = dir.file("app.lck");
    std::unique_ptr<FileLock> first(FileLock::newInstance(name, false, true));
    std::ifstream pid(dir.file("app.pid"));
    std::stringstream text;
    text << pid.rdbuf();
    pid.close();
    EXPECT_EQ(text.str(), std::to_string(GetCurrentProcessId()));

    try {
        std::unique_ptr<FileLock> second(FileLock::newInstance(name, false, false));
        FAIL() << "a second lock on a held file succeeded";
    } catch (const KorrIOException& e) {
        EXPECT_NE(e.toString().find("ZRKNV0057"), std::string::npos) << e.toString();
        EXPECT_NE(e.toString().find(name), std::string::npos) << e.toString();
    }
    first.reset();
    EXPECT_EQ(GetFileAttributesA(dir.file("app.pid").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
    std::unique_ptr<FileLock> third(FileLock::newInstance(name, false, false));
    // Its owner removes the file while it holds the lock; the name stays locked until release.
    EXPECT_TRUE(DeleteFileA(name.c_str())) << GetLastError();
    EXPECT_THROW(std::unique_ptr<FileLock>(FileLock::newInstance(name, false, false)), KorrIOException);
    third.reset();
    EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
}
