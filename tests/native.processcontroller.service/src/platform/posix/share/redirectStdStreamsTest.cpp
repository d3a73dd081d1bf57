#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "KorrException.h"
#include "ServicePlatform.h"
#include "ServiceTestSupport.h"
#include "TempDir.h"
#include "TestChild.h"
#include "redirectStdStreams.h"

// Redirects its streams to argv[1]/logs, then writes a line to each and names the directory.
OSTARA_TEST_CHILD_ROLE(redirect)
{
    try {
        std::string dir = redirectStdStreams(argv[1]);
        std::printf("dir=%s\n", dir.c_str());
        std::fprintf(stderr, "err-line\n");
        if (argc > 2) {
            // Another user replaces the name by a FIFO: the tail still comes from the file.
            std::string name = dir + "/stderr.log";
            if (std::rename(name.c_str(), (name + ".moved").c_str()) != 0 || mkfifo(name.c_str(), 0666) != 0) {
                return 4;
            }
            std::printf("tail=[%s]\n", ServicePlatform::standardErrorTail(dir, 4).c_str());
        }
        return 0;
    } catch (const KorrException& e) {
        std::printf("threw: %s\n", e.getMessage().c_str());
        return 3;
    }
}

namespace {

std::string redirectIn(const std::string& directory, const std::string& tmp, int expected)
{
    ProgramRun child({TestChild::selfPath(), directory}, {"OSTARA_TEST_CHILD=redirect", "TMP=" + tmp});
    EXPECT_EQ(expected, child.wait(30000)) << child.output();
    return child.output();
}

} // namespace

TEST(RedirectStdStreamsTest, MovesBothStreamsToTmpWhenTheLogsDirectoryCannotTakeThem)
{
    TempDir dir, tmp;
    ASSERT_EQ(0, mkdir(dir.file("logs").c_str(), 0755));
    ASSERT_EQ(0, mkdir(dir.file("logs/stdout.log").c_str(), 0755));
    EXPECT_EQ("", redirectIn(dir.path(), tmp.path(), 0));
    EXPECT_EQ("dir=" + tmp.path() + "\n", tmp.read("stdout.log"));
    EXPECT_EQ("Using TMP directory as failed to reopen stdout to " + dir.file("logs/stdout.log") +
                  " due to error: Is a directory\nerr-line\n",
              tmp.read("stderr.log"));
    // Never half moved: no stderr.log was left in the logs directory.
    EXPECT_NE(0, access(dir.file("logs/stderr.log").c_str(), F_OK));
    struct stat st;
    ASSERT_EQ(0, stat(tmp.file("stderr.log").c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & S_IWOTH) << "others must not write the service's logs";

    EXPECT_EQ("threw: Failed to redirect stdout or stderr due to error: No such file or directory\n",
              redirectIn(dir.path(), dir.file("no-such-tmp"), 3));
}

TEST(RedirectStdStreamsTest, NeverWritesThroughALinkPlantedInTheTemporaryDirectory)
{
    TempDir dir, tmp;
    std::string precious = tmp.write("precious", "keep me\n");
    ASSERT_EQ(0, chmod(precious.c_str(), 0600));
    ASSERT_EQ(0, symlink(precious.c_str(), tmp.file("stdout.log").c_str()));
    std::string output = redirectIn(dir.write("plain-file", ""), tmp.path(), 0);
    EXPECT_EQ("keep me\n", tmp.read("precious"));
    struct stat st;
    ASSERT_EQ(0, stat(precious.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777) << "the link's target had its permissions changed";
    // The streams stayed where they were.
    EXPECT_NE(std::string::npos, output.find("dir=" + tmp.path())) << output;
}

// A log directory that another user can write may have its "logs" replaced by a link to a
// victim's directory: nothing there is emptied or changed, and the streams go to TMP.
TEST(RedirectStdStreamsTest, LinkedLogsDirectoryBelowAnotherUsersDirectoryIsNotFollowed)
{
    TempDir dir, tmp, victim;
    std::string kept = victim.write("stdout.log", "victim's\n");
    ASSERT_EQ(0, chmod(kept.c_str(), 0600));
    std::string logDirectory = dir.file("shared");
    ASSERT_EQ(0, mkdir(logDirectory.c_str(), 0777));
    ASSERT_EQ(0, chmod(logDirectory.c_str(), 0777));
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(logDirectory.c_str(), 65534, 65534));
    }
    ASSERT_EQ(0, symlink(victim.path().c_str(), (logDirectory + "/logs").c_str()));
    std::string output = redirectIn(logDirectory, tmp.path(), 0);
    EXPECT_EQ("victim's\n", victim.read("stdout.log"));
    EXPECT_NE(0, access(victim.file("stderr.log").c_str(), F_OK));
    struct stat st;
    ASSERT_EQ(0, stat(kept.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ("dir=" + tmp.path() + "\n", tmp.read("stdout.log"));
    EXPECT_NE(std::string::npos, tmp.read("stderr.log").find("ZRKNV0189E")) << tmp.read("stderr.log");
    ASSERT_EQ(0, stat(tmp.file("stdout.log").c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777);
}

// What a failed start reports comes from the file this process writes, never from whatever
// another user has since put at its name (here a FIFO, which would hold a reader for good).
TEST(RedirectStdStreamsTest, TheTailOfStandardErrorIsReadThroughTheOpenFileNotItsName)
{
    TempDir dir, tmp;
    ProgramRun child({TestChild::selfPath(), dir.path(), "tail"}, {"OSTARA_TEST_CHILD=redirect", "TMP=" + tmp.path()});
    ASSERT_EQ(0, child.wait(30000)) << child.output();
    EXPECT_EQ("dir=" + dir.file("logs") + "\ntail=[ine\n]\n", dir.read("logs/stdout.log"));
}

