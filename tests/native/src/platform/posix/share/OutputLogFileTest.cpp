#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "FloodLines.h"
#include "OutputLogFile.h"
#include "TempDir.h"

namespace {

const long long LIMIT = 64 * 1024;
const std::size_t LONGEST_LINE = 78;

} // namespace

TEST(OutputLogFileTest, RotationKeepsTheNewestBytesInOrderWithWholeLinesInBoundedFiles)
{
    TempDir dir;
    std::string path = dir.file("stdout.log");
    dir.write("stdout.log.9", "beyond the count\n");
    std::string stream;
    {
        OutputLogFile file(path, LIMIT, 3, -1);
        ASSERT_EQ(0, chmod(path.c_str(), 0640));   // as the service protects it
        EXPECT_FALSE(std::filesystem::exists(path + ".9"));
        std::mt19937 random(7);
        std::vector<char> buffer(300 * 1024);
        FloodLines lines;
        std::string pending;
        while (stream.size() < 2 * 1024 * 1024) {
            std::size_t used = lines.fill(buffer.data(), buffer.size());
            pending.append(buffer.data(), used);
            // Chunks cut anywhere, as a pipe yields them.
            while (!pending.empty()) {
                std::size_t n = std::min<std::size_t>(pending.size(), 1 + random() % 150000);
                file.write(pending.data(), n);
                stream.append(pending, 0, n);
                pending.erase(0, n);
            }
        }
    }
    std::string kept;
    for (const char* name : {"stdout.log.3", "stdout.log.2", "stdout.log.1", "stdout.log"}) {
        std::string text = dir.read(name);
        ASSERT_FALSE(text.empty()) << name;
        EXPECT_LE(text.size(), static_cast<std::size_t>(LIMIT) + LONGEST_LINE) << name;
        EXPECT_EQ(text.back(), '\n') << name;   // no line is split across two files
        struct stat st;
        ASSERT_EQ(0, stat(dir.file(name).c_str(), &st));
        EXPECT_EQ(st.st_mode & 0777, 0640u) << name;
        kept += text;
    }
    EXPECT_FALSE(std::filesystem::exists(path + ".4"));
    ASSERT_GE(kept.size(), 3u * LIMIT);
    EXPECT_TRUE(stream.compare(stream.size() - kept.size(), kept.size(), kept) == 0)
        << "the files are not the last bytes written, in order";
}
