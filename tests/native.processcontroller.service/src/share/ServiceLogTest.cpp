#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ServiceLog.h"
#include "TempDir.h"

namespace {

// The text without carriage returns: files and streams on Windows end their lines with them.
std::string withoutReturns(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(withoutReturns(line));
    }
    return lines;
}

} // namespace

TEST(ServiceLogTest, StampsLinesInUtcAndNamesTheFileWithTheLocalDate)
{
    struct tm when = {};
    when.tm_year = 2024 - 1900;
    when.tm_mday = 31;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 7;
    EXPECT_EQ("[31/01/2024 09:05:07 GMT]", ServiceLog::timeStamp(1706691907));   // that moment in UTC
    when.tm_isdst = -1;
    EXPECT_EQ(20240131, ServiceLog::dateNumber(mktime(&when)));
}

TEST(ServiceLogTest, WritesToStandardOutputWithoutAFileAndAfterClose)
{
    TempDir dir;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        ServiceLog log(dir.write("plain", "") + "/service%g.log", 1048576, 5, true, true);
        log.log("without a file");
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, err.find("Using stdout for service log as failed to open log handler due to error: ")) << err;
    ServiceLog log(dir.file("service%g.log"), 1048576, 5, true, true);
    log.close();
    log.log("after close");
    EXPECT_TRUE(std::regex_match(withoutReturns(testing::internal::GetCapturedStdout()),
                                 std::regex(R"(\[[0-9/]{10} [0-9:]{8} GMT\] without a file\n)"
                                            R"(\[[0-9/]{10} [0-9:]{8} GMT\] after close\n)")));
}

TEST(ServiceLogTest, LinesFromManyThreadsStayWholeAndInOrder)
{
    TempDir dir;
    const int threads = 4, lines = 200;
    {
        ServiceLog log(dir.file("service%g.log"), 1048576, 5, true, true);
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t) {
            writers.emplace_back([&log, t] {
                for (int i = 0; i < lines; ++i) {
                    log.log(std::to_string(t) + " " + std::to_string(i) + " " + std::string(100, 'x'));
                }
            });
        }
        for (auto& w : writers) {
            w.join();
        }
    }
    std::vector<std::string> written =
        readLines(dir.file("service" + std::to_string(ServiceLog::dateNumber(std::time(nullptr))) + ".log"));
    ASSERT_EQ(static_cast<size_t>(threads * lines), written.size());
    std::vector<int> next(threads, 0);
    for (const std::string& line : written) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(\[.{19} GMT\] (\d) (\d+) x{100})"))) << line;
        EXPECT_EQ(next[std::stoi(m[1])]++, std::stoi(m[2]));
    }
}
