#include <filesystem>
#include <regex>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "BuildLevel.h"
#include "LogRecord.h"
#include "RAS.h"
#include "EventLog.h"
#include "EventLogHandler.h"
#include "KorrProcess.h"
#include "LogFileProperties.h"
#include "RasDescriptor.h"
#include "TempDir.h"
#include "Trace.h"
#include "TraceFileLogHandler.h"

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

LogRecord event(const LogLevel& level, const std::string& message)
{
    LogRecord record(level, LogRecordType::EVENT, message);
    record.setSourceClassName("Controller");
    record.setThreadId(0x1234);
    return record;
}

std::string lineOf(const LogRecord& record)
{
    std::ostringstream s;
    s << record;
    return s.str();
}

} // namespace

TEST(EventLogHandlerTest, BannerWithApplicationPropertiesThenEventLinesExactlyAsFormatted)
{
    TempDir dir;
    LogFileProperties props(dir.file("ev%g.log"), 100000, 2, true, false);
    props.addApplicationProperty("name", "agent1");
    props.addApplicationProperty("id", "QM1");
    props.addApplicationProperty("name", "ignored");   // the first value stays
    LogRecord warning = event(LogLevel::WARNING, "caf\\u00e9 stopped");
    LogRecord config = event(LogLevel::CONFIG, "configured");
    LogRecord fine(LogLevel::FINE, LogRecordType::DATA, "trace only");
    {
        EventLogHandler handler(props);
        handler.publish(warning);
        handler.publish(fine);
        handler.publish(config);
    }
    std::string warningLine = lineOf(warning);
    warningLine.replace(warningLine.find("\\u00e9"), 6, "\xC3\xA9");
    std::vector<std::string> expected = {"************ Start Display Current Environment ************",
                                         "Build level: " + BuildLevel::getText(),
                                         "Properties:",
                                         "id=QM1",
                                         "name=agent1",
                                         "************* End Display Current Environment *************",
                                         "",
                                         warningLine,
                                         lineOf(config)};
    EXPECT_EQ(expected, linesOf(dir.read("ev0.log")));
}

TEST(TraceFileLogHandlerTest, FileOpensAtTheFirstRecordWithItsBannerAndNeverTakesEvents)
{
    TempDir dir;
    LogFileProperties props(dir.file("tr%g.txt"), 100000, 2, false, false);
    props.addApplicationProperty("cmd", "run");
    TraceFileLogHandler handler(props);
    EXPECT_FALSE(std::filesystem::exists(dir.file("tr0.txt")));

    LogRecord ev = event(LogLevel::SEVERE, "an event");
    handler.publish(ev);
    LogRecord data(LogLevel::FINEST, LogRecordType::DATA, "a data point");
    handler.publish(data);

    std::vector<std::string> lines = linesOf(dir.read("tr0.txt"));
    ASSERT_EQ(11u, lines.size()) << dir.read("tr0.txt");
    // The asctime text brings its own line feed, so an empty line follows the date.
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("Date: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] "
                                                      "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}")))
        << lines[0];
    std::vector<std::string> rest(lines.begin() + 1, lines.end());
    std::vector<std::string> header = linesOf(LogRecord::getLogRecordOutputHeader());
    std::vector<std::string> expected = {"",
                                         "Process ID: " + std::to_string(KorrProcess::getCurrentProcessId()),
                                         "",
                                         "BUILD_LEVEL " + BuildLevel::getText(),
                                         "PROPERTIES",
                                         "cmd=run",
                                         "",
                                         header.at(0),
                                         header.at(1),
                                         lineOf(data)};
    EXPECT_EQ(expected, rest);
}

// The product's set-up: events in the event log and bare on the console, trace records in the
// trace file only; a unit test that sets up again reuses the same files.
TEST(RASLogFilesTest, EventsAndTraceReachTheirOwnFilesAndTheConsole)
{
    TempDir dir;
    RAS::shutdown();
    LogFileProperties eventProps(dir.file("ev%g.log"), 100000, 2, true, false);
    LogFileProperties traceProps(dir.file("tr%g.txt"), 100000, 2, true, false);
    RasDescriptor rd("LogFilesT", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    RAS::initialize(RASEnvironment::UNITTEST, eventProps, traceProps, "com.quillon.velbrix.native");
    RAS::initialize(RASEnvironment::UNITTEST, eventProps, traceProps, "com.quillon.velbrix.native");
    EventLog::warningNoFormat(rd, "disk nearly full");
    RAS::setLevel("com.quillon.velbrix.native.LogFilesT=all");
    if (rd.isFlowOn()) {
        Trace::entry(rd, "work");
        Trace::exit(rd, "work");
    }
    RAS::shutdown();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("disk nearly full\n", testing::internal::GetCapturedStderr());
    EXPECT_EQ(0u, out.find("ZRKNV0018I")) << out;
    EXPECT_EQ(std::string::npos, out.find("work")) << out;

    EXPECT_FALSE(std::filesystem::exists(dir.file("ev0.log.1")));
    std::string events = dir.read("ev0.log");
    EXPECT_TRUE(std::regex_search(events, std::regex("\\n\\[[0-9]{2}/[0-9]{2}/[0-9]{4} [^\\]]*\\]  [0-9a-f]{16} "
                                                     "LogFilesT +W disk nearly full\\n")))
        << events;
    EXPECT_EQ(std::string::npos, events.find("work"));
    std::string trace = dir.read("tr0.txt");
    EXPECT_NE(std::string::npos, trace.find("com.quillon.velbrix.native.LogFilesT")) << trace;
    EXPECT_NE(std::string::npos, trace.find("work")) << trace;
    EXPECT_EQ(std::string::npos, trace.find("disk nearly full"));
}
