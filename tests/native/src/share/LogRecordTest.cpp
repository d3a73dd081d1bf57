#include <chrono>
#include <ctime>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "KorrIOException.h"
#include "LogLevel.h"
#include "LogRecord.h"
#include "LogRecordType.h"
#include "TraceDataLogRecord.h"
#include "TraceEntryLogRecord.h"
#include "TraceExitLogRecord.h"
#include "TraceThrowingLogRecord.h"

namespace {

std::string text(const LogRecord& record)
{
    std::ostringstream out;
    out << record;
    return out.str();
}

std::string clock(const LogRecord& record)
{
    std::time_t t = static_cast<std::time_t>(record.getLogTime());
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", std::localtime(&t));
    return buffer;
}

} // namespace

TEST(LogRecordTest, LevelAndTypeTextsHaveFixedWidthAndSevereReadsE)
{
    struct { LogLevel level; char indicator; const char* text; } levels[] = {
        {LogLevel::ALL, 'A', "ALL    "},     {LogLevel::FINEST, 'F', "FINEST "}, {LogLevel::FINER, 'F', "FINER  "},
        {LogLevel::FINE, 'F', "FINE   "},    {LogLevel::CONFIG, 'C', "CONFIG "}, {LogLevel::INFO, 'I', "INFO   "},
        {LogLevel::WARNING, 'W', "WARNING"}, {LogLevel::SEVERE, 'E', "SEVERE "}, {LogLevel::OFF, 'O', "OFF    "},
        {LogLevel(42), '?', "???    "}};
    for (const auto& l : levels) {
        EXPECT_EQ(l.level.getIndicator(), l.indicator) << l.text;
        std::ostringstream out;
        out << l.level;
        EXPECT_EQ(out.str(), l.text);
    }
    EXPECT_EQ(LogLevel(), LogLevel::OFF);
    EXPECT_TRUE(LogLevel(LogLevel::WARNING) >= LogLevel::INFO);
    EXPECT_FALSE(LogLevel(LogLevel::FINE) >= LogLevel::INFO);

    EXPECT_EQ(LogRecordType(LogRecordType::THROWING).toString(), "THROWING");
    EXPECT_EQ(LogRecordType(LogRecordType::EVENT).toString(), "EVENT   ");
    EXPECT_EQ(LogRecordType(9).toString(), "???     ");
    EXPECT_FALSE(LogRecordType(LogRecordType::EVENT).isTraceable());
    EXPECT_TRUE(LogRecordType(LogRecordType::DATA).isTraceable());
}

TEST(LogRecordTest, HeaderIsTwoLinesOf127And166Characters)
{
    std::string header = LogRecord::getLogRecordOutputHeader();
    ASSERT_EQ(header.size(), 294u);
    std::string first = "TimeStamp" + std::string(8, ' ') + "TID" + std::string(14, ' ') + "ObjectId" +
                        std::string(10, ' ') + "Class" + std::string(66, ' ') + "Data";
    EXPECT_EQ(header, first + "\n" + std::string(166, '='));
}

TEST(LogRecordTest, SequenceCountsRecordsWithinOneSecondAndRestartsAtZero)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    LogRecord first(LogLevel::INFO, LogRecordType::EVENT, "m");
    bool sawNewSecond = false;
    while (std::chrono::steady_clock::now() < deadline && !sawNewSecond) {
        LogRecord next(LogLevel::INFO, LogRecordType::EVENT, "m");
        if (next.getLogTime() != first.getLogTime()) {
            EXPECT_EQ(next.getSequenceInSecond(), 0u);
            LogRecord after(LogLevel::INFO, LogRecordType::EVENT, "m");
            if (after.getLogTime() == next.getLogTime()) {
                EXPECT_EQ(after.getSequenceInSecond(), 1u);
            }
            sawNewSecond = true;
        } else {
            EXPECT_GT(next.getSequenceInSecond(), first.getSequenceInSecond());
        }
    }
    EXPECT_TRUE(sawNewSecond);
}

TEST(LogRecordTest, TimestampSplitsTheSequenceIntoHundredsOf256AndTwoHexDigits)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        LogRecord record(LogLevel::FINE, LogRecordType::ENTRY, "");
        if (record.getSequenceInSecond() == 300) {   // the 301st record of its second
            EXPECT_EQ(record.getTimestamp(), clock(record) + ".001.2C");
            return;
        }
        if (record.getSequenceInSecond() == 0) {
            EXPECT_EQ(record.getTimestamp(), clock(record) + ".000.00");
        }
    }
    FAIL() << "no second held 301 records";
}

TEST(LogRecordTest, DateTimestampPutsDayBeforeMonthAndNamesTheZone)
{
    LogRecord record(LogLevel::INFO, LogRecordType::EVENT, "m");
    std::time_t t = static_cast<std::time_t>(record.getLogTime());
    char expected[64];
    std::strftime(expected, sizeof expected, "%d/%m/%Y %H:%M:%S", std::localtime(&t));
    // The zone's name as the C library gives it; on some systems it has blanks.
    char zone[64];
    ASSERT_GT(std::strftime(zone, sizeof zone, "%Z", std::localtime(&t)), 0u);
    std::string stamp = record.getDateTimestamp();
    EXPECT_EQ(stamp.substr(0, 19), expected);
    EXPECT_TRUE(std::regex_match(stamp.substr(19, 5), std::regex("\\.[0-9]{3} "))) << stamp;
    EXPECT_EQ(stamp.substr(24), zone) << stamp;
}

TEST(LogRecordTest, ArgumentsAreCappedAtFiveAndOutOfRangeReadsEmpty)
{
    LogRecord record(LogLevel::FINE, LogRecordType::DATA, "");
    std::string values[] = {"a", "b", "c", "d", "e", "f", "g"};
    record.setArguments(7, values);
    EXPECT_EQ(record.getNumArguments(), 5u);
    EXPECT_EQ(record.getArgument(4), "e");
    EXPECT_EQ(record.getArgument(5), "");
    record.setArguments(2, values + 5);
    EXPECT_EQ(record.getNumArguments(), 2u);
    EXPECT_EQ(record.getArgument(1), "g");
    EXPECT_EQ(record.getArgument(2), "");
}

TEST(LogRecordTest, EventLineCutsTheClassToThirteenAndShowsTheIndicator)
{
    LogRecord record(LogLevel::SEVERE, LogRecordType::EVENT, "disk on fire");
    record.setThreadId(0x4d2);
    record.setSourceClassName("ProcessControllerExtra");
    record.setObjectReference(&record);   // not shown in the event form
    EXPECT_EQ(text(record), "[" + record.getDateTimestamp() + "]  00000000000004d2 ProcessContro E disk on fire");

    LogRecord shortName(LogLevel::WARNING, LogRecordType::EVENT, "x");
    shortName.setSourceClassName("RAS");
    EXPECT_EQ(text(shortName), "[" + shortName.getDateTimestamp() + "]  0000000000000000 RAS           W x");
}

TEST(LogRecordTest, TraceLineLinesUpWithTheHeader)
{
    TraceEntryLogRecord record(LogLevel::FINE, "  { ");
    record.setThreadId(0xbeef);
    record.setObjectReference(reinterpret_cast<const void*>(0xdeadbeefULL));
    record.setSourceClassName("com.quillon.velbrix.native.IPCServer");
    record.setSourceMethodName("connect");
    std::string args[] = {"pipe1", "\"\""};
    record.setArguments(2, args);
    std::string line = text(record);
    EXPECT_EQ(line, record.getTimestamp() + "  000000000000beef @00000000deadbeef com.quillon.velbrix.native.IPCServer" +
                        std::string(34, ' ') + "   {  connect [pipe1] [\"\"]");
    EXPECT_EQ(line.find("  {  connect"), 123u);   // the header's Data column

    TraceExitLogRecord exit(LogLevel::FINE, "  } ");
    exit.setSourceClassName(std::string(80, 'C'));
    exit.setSourceMethodName("connect");
    EXPECT_EQ(text(exit), exit.getTimestamp() + "  0000000000000000            static " + std::string(70, 'C') +
                              "   }  connect");
}

TEST(LogRecordTest, TraceMessagesOfEachKind)
{
    TraceEntryLogRecord bare(LogLevel::FINE, "  { ");
    bare.setSourceMethodName("run");
    EXPECT_EQ(bare.getMessage(), "  {  run ");

    TraceDataLogRecord data(LogLevel::FINER, "-  d ");
    data.setSourceMethodName("run");
    std::string values[] = {"x=1", "y"};
    data.setArguments(2, values);
    EXPECT_EQ(data.getMessage(), "-  d  run data [x=1] [y]");

    TraceExitLogRecord exit(LogLevel::FINE, "  } ");
    exit.setSourceMethodName("size");
    EXPECT_EQ(exit.getMessage(), "  }  size");
    std::string result = "42";
    exit.setArguments(1, &result);
    exit.setMethodReturnType("int");
    EXPECT_EQ(exit.getMessage(), "  }  size returns [42] int");

    TraceThrowingLogRecord unknown(LogLevel::FINE, "-  ! ");
    unknown.setSourceMethodName("open");
    EXPECT_EQ(unknown.getMessage(), "-  !  open, Unknown Throwable[Throwable]");
    KorrIOException e("disk full");
    unknown.setThrown(&e);
    EXPECT_EQ(unknown.getMessage(), "-  !  open, class KorrIOException: disk full[class KorrIOException]");
}
