#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ServiceLog.h"
#include "ServiceTestSupport.h"
#include "TempDir.h"

namespace {

const int LIMIT = 1048576;

std::string todaysFile(const TempDir& dir)
{
    return dir.file("service" + std::to_string(ServiceLog::dateNumber(std::time(nullptr))) + ".log");
}

const std::regex STAMPED(R"(\[\d\d/\d\d/\d{4} \d\d:\d\d:\d\d GMT\] (.*))");

std::string messageOf(const std::string& line)
{
    std::smatch m;
    return std::regex_match(line, m, STAMPED) ? m[1].str() : "(unstamped) " + line;
}

} // namespace

TEST(ServiceLogTest, StampsEachLineWithTheTimeInUtc)
{
    struct tm when = {};
    when.tm_year = 2024 - 1900;
    when.tm_mon = 0;
    when.tm_mday = 31;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 7;
    EXPECT_EQ("[31/01/2024 09:05:07 GMT]", ServiceLog::timeStamp(timegm(&when)));
    struct tm local = {};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 1;
    local.tm_mday = 9;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    EXPECT_EQ(20240209, ServiceLog::dateNumber(mktime(&local)));
}

TEST(ServiceLogTest, TwoStartsOnOneDayAppendToOneDatedFile)
{
    TempDir dir;
    {
        ServiceLog first(dir.file("service%g.log"), LIMIT, 5, true, true);
        first.log("Service S starting");
        first.close();
        // Released: the lock file is gone.
        EXPECT_NE(0, access((todaysFile(dir) + ".lck").c_str(), F_OK));
    }
    ServiceLog second(dir.file("service%g.log"), LIMIT, 5, true, true);
    second.log("Service S starting again");
    second.close();
    std::vector<std::string> lines = readLines(todaysFile(dir));
    ASSERT_EQ(2u, lines.size()) << readFile(todaysFile(dir));
    EXPECT_EQ("Service S starting", messageOf(lines[0]));
    EXPECT_EQ("Service S starting again", messageOf(lines[1]));
}

TEST(ServiceLogTest, WritesToStandardOutputWhenTheFileCannotBeOpenedAndAfterClose)
{
    TempDir dir;
    std::string notADirectory = dir.write("plain", "");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        ServiceLog log(notADirectory + "/service%g.log", LIMIT, 5, true, true);
        log.log("without a file");
    }
    std::string err = testing::internal::GetCapturedStderr();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, err.find("Using stdout for service log as failed to open log handler due to error: ")) << err;
    EXPECT_EQ("without a file", messageOf(out.substr(0, out.size() - 1)));

    ServiceLog log(dir.file("service%g.log"), LIMIT, 5, true, true);
    log.log("to the file");
    log.close();
    testing::internal::CaptureStdout();
    log.log("after close");
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("after close", messageOf(out.substr(0, out.size() - 1)));
    ASSERT_EQ(1u, readLines(todaysFile(dir)).size());
}

TEST(ServiceLogTest, LinesFromManyThreadsStayWhole)
{
    TempDir dir;
    ServiceLog log(dir.file("service%g.log"), LIMIT, 5, true, true);
    const int threads = 4, lines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&log, t] {
            for (int i = 0; i < lines; ++i) {
                log.log("thread " + std::to_string(t) + " line " + std::to_string(i) + " " + std::string(100, 'x'));
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }
    log.close();
    std::vector<std::string> written = readLines(todaysFile(dir));
    ASSERT_EQ(static_cast<size_t>(threads * lines), written.size());
    std::vector<int> next(threads, 0);
    for (const std::string& line : written) {
        std::smatch m;
        std::string message = messageOf(line);
        ASSERT_TRUE(std::regex_match(message, m, std::regex(R"(thread (\d) line (\d+) x{100})"))) << line;
        int t = std::stoi(m[1].str());
        EXPECT_EQ(next[t]++, std::stoi(m[2].str())) << "lines of one thread out of order";
    }
}
