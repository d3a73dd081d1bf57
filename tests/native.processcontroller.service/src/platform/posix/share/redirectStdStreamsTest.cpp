#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "KorrException.h"
#include "ServiceTestSupport.h"
#include "TempDir.h"
#include "TestChild.h"
#include "redirectStdStreams.h"

// Redirects its streams to argv[1]/logs, then writes a line to each and names the directory.
OSTARA_TEST_CHILD_ROLE(redirect)
{
    try {
        std::string dir = redirectStdStreams(argv[1]);
        std::printf("dir=%s\nout-line\n", dir.c_str());
        std::fprintf(stderr, "err-line\n");
        return 0;
    } catch (const KorrException& e) {
        std::printf("threw: %s\n", e.getMessage().c_str());
        return 3;
    }
}

namespace {

struct Redirected
{
    int status;
    std::string output;   // what still reached the original streams
};

Redirected redirectIn(const std::string& directory, const std::string& tmp)
{
    ProgramRun child({TestChild::selfPath(), directory}, {"OSTARA_TEST_CHILD=redirect", "TMP=" + tmp});
    Redirected r;
    r.status = child.wait(30000);
    r.output = child.output();
    return r;
}

} // namespace

TEST(RedirectStdStreamsTest, WritesBothStreamsToFreshFilesInTheLogsDirectory)
{
    TempDir dir, tmp;
    ASSERT_EQ(0, mkdir(dir.file("logs").c_str(), 0755));
    dir.write("logs/stdout.log", "old output\n");
    Redirected r = redirectIn(dir.path(), tmp.path());
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_EQ("", r.output);
    EXPECT_EQ("dir=" + dir.file("logs") + "\nout-line\n", readFile(dir.file("logs/stdout.log")));
    EXPECT_EQ("err-line\n", readFile(dir.file("logs/stderr.log")));
    struct stat st;
    ASSERT_EQ(0, stat(dir.file("logs/stderr.log").c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & S_IWOTH) << "others must not write the service's logs";
    EXPECT_NE(0u, st.st_mode & S_IROTH);
}

TEST(RedirectStdStreamsTest, UsesTmpWithAWarningWhenTheLogsDirectoryCannotBeCreated)
{
    TempDir dir, tmp;
    std::string notADirectory = dir.write("plain-file", "");
    Redirected r = redirectIn(notADirectory, tmp.path());
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_EQ("dir=" + tmp.path() + "\nout-line\n", readFile(tmp.file("stdout.log")));
    EXPECT_EQ("Using TMP directory as could not create directory " + notADirectory +
                  "/logs due to error: Not a directory\nerr-line\n",
              readFile(tmp.file("stderr.log")));
}

TEST(RedirectStdStreamsTest, UsesTmpWhenTheFilesCannotBeOpenedInTheLogsDirectory)
{
    TempDir dir, tmp;
    ASSERT_EQ(0, mkdir(dir.file("logs").c_str(), 0755));
    ASSERT_EQ(0, mkdir(dir.file("logs/stdout.log").c_str(), 0755));
    Redirected r = redirectIn(dir.path(), tmp.path());
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_EQ("dir=" + tmp.path() + "\nout-line\n", readFile(tmp.file("stdout.log")));
    EXPECT_EQ("Using TMP directory as failed to reopen stdout to " + dir.file("logs/stdout.log") +
                  " due to error: Is a directory\nerr-line\n",
              readFile(tmp.file("stderr.log")));
    // Nothing was left half-moved: the logs directory got no stderr.log.
    EXPECT_NE(0, access(dir.file("logs/stderr.log").c_str(), F_OK));
}

TEST(RedirectStdStreamsTest, FailsWithoutClosingTheStreamsWhenNeitherDirectoryWorks)
{
    TempDir dir;
    ASSERT_EQ(0, mkdir(dir.file("logs").c_str(), 0755));
    ASSERT_EQ(0, mkdir(dir.file("logs/stderr.log").c_str(), 0755));
    Redirected r = redirectIn(dir.path(), dir.file("no-such-tmp"));
    EXPECT_EQ(3, r.status);
    EXPECT_EQ("threw: Failed to redirect stdout or stderr due to error: No such file or directory\n", r.output);
}

TEST(RedirectStdStreamsTest, NeverFollowsASymbolicLinkPlantedInTheTemporaryDirectory)
{
    TempDir dir, tmp;
    std::string precious = tmp.write("precious", "keep me\n");
    ASSERT_EQ(0, chmod(precious.c_str(), 0600));
    ASSERT_EQ(0, symlink(precious.c_str(), tmp.file("stdout.log").c_str()));
    std::string notADirectory = dir.write("plain-file", "");
    Redirected r = redirectIn(notADirectory, tmp.path());
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("keep me\n", readFile(precious));
    struct stat st;
    ASSERT_EQ(0, stat(precious.c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & S_IROTH) << "the link's target had its permissions changed";
    // The streams stayed where they were, and the warning still names the directory.
    EXPECT_NE(std::string::npos, r.output.find("out-line")) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("could not create directory " + notADirectory + "/logs")) << r.output;
}
