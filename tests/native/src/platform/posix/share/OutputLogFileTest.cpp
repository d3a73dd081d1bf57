#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "DiagnosticsTestSupport.h"
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

namespace {

class OutputLossTest : public DiagnosticsTest
{
};

} // namespace

// A full disk (/dev/full) loses output: said once when it starts, with the reason, and once
// writing works again, with the bytes lost; what is written afterwards arrives whole.
TEST_F(OutputLossTest, LostOutputIsReportedOnceWithTheBytesLostWhenWritingWorksAgain)
{
    TempDir dir;
    int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    OutputLogFile output(fd);
    output.write("first line\n", 11);
    output.write("second\n", 7);
    std::vector<std::string> said = events->messagesOf(LogRecordType::EVENT);
    ASSERT_EQ(1u, said.size());
    EXPECT_NE(std::string::npos, said[0].find("ZRKNV0199E")) << said[0];
    EXPECT_NE(std::string::npos, said[0].find("No space left on device")) << said[0];

    int file = ::open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(fd, ::dup2(file, fd));   // the same descriptor now reaches a file with room
    ::close(file);
    output.write("third\n", 6);
    output.write("fourth\n", 7);
    said = events->messagesOf(LogRecordType::EVENT);
    ASSERT_EQ(2u, said.size());
    EXPECT_NE(std::string::npos, said[1].find("ZRKNV0200W")) << said[1];
    EXPECT_NE(std::string::npos, said[1].find("; 18 bytes of its output were lost")) << said[1];
    EXPECT_EQ("third\nfourth\n", dir.read("out"));
    ::close(fd);
}

