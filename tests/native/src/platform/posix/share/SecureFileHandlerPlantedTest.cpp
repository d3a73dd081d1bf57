#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "SecureFileHandler.h"
#include "TempDir.h"

// Names planted where the handler's files go (a FIFO as its lock file, a file of another user
// as its log) neither hang it nor receive its lines: it takes the next unique name. Runs in a
// child with an alarm, so a hang fails the test instead of stopping it.
TEST(SecureFileHandlerTest, PlantedFifoOrForeignFileIsLeftAloneForTheNextName)
{
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo0.log.lck").c_str(), 0666), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        dir.write("foreign0.log", "planted\n");
        ASSERT_EQ(::chown(dir.file("foreign0.log").c_str(), 65534, 65534), 0);
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);
        SecureFileHandler(dir.file("fifo%g.log"), 1000, 2, true, false, 0).publish("line");
        if (root) {
            SecureFileHandler(dir.file("foreign%g.log"), 1000, 2, true, false, 0).publish("line");
        }
        ::_exit(0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "the handler hung or failed";
    EXPECT_EQ(dir.read("fifo0.log.1"), "line\n");
    if (root) {
        EXPECT_EQ(dir.read("foreign0.log"), "planted\n");
        EXPECT_EQ(dir.read("foreign0.log.1"), "line\n");
    }
}
