#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "OutputLogFile.h"
#include "TempDir.h"

namespace {

const long long LIMIT = 64 * 1024;

} // namespace

TEST(OutputLogFileTest, StartShiftsTheLastRunAsideAndAnOutsideTruncateLeavesNoHole)
{
    TempDir dir;
    std::string path = dir.write("stdout.log", "previous run\n");
    dir.write("stdout.log.1", "older run\n");
    OutputLogFile::shiftGenerations(path, 5);
    EXPECT_EQ(dir.read("stdout.log.1"), "previous run\n");
    EXPECT_EQ(dir.read("stdout.log.2"), "older run\n");
    EXPECT_FALSE(std::filesystem::exists(path));

    // Generations past the count go at once; names that are not generations stay.
    dir.write("stdout.log.9", "beyond the count\n");
    dir.write("stdout.log.09", "not a generation\n");
    dir.write("stdout.log.old", "the operator's\n");
    OutputLogFile file(path, LIMIT, 5, -1);
    EXPECT_FALSE(std::filesystem::exists(path + ".9"));
    EXPECT_TRUE(std::filesystem::exists(path + ".09"));
    EXPECT_TRUE(std::filesystem::exists(path + ".old"));
    EXPECT_TRUE(std::filesystem::exists(path + ".2"));
    file.write("first\n", 6);
    std::filesystem::resize_file(path, 0);   // copy-truncate by an outside tool
    file.write("second\n", 7);
    EXPECT_EQ(dir.read("stdout.log"), "second\n");

    // One line longer than the limit is split only once it has filled another limit's worth.
    std::string giant(3 * LIMIT, 'g');
    file.write(giant.data(), giant.size());
    EXPECT_EQ(dir.read("stdout.log.1").size(), static_cast<std::size_t>(2 * LIMIT));
    EXPECT_EQ(dir.read("stdout.log").size(), static_cast<std::size_t>(LIMIT) + 7);
}
