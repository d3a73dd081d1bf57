#include <string>

#include <gtest/gtest.h>

#include "DiagnosticsTestSupport.h"
#include "EventLog.h"
#include "KorrEnvironment.h"
#include "Logger.h"
#include "RAS.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

LogLevel levelOf(const std::string& loggerName) { return Logger::getLogger(loggerName)->getLevel(); }

// Whether a record of a class traced at FLOW reaches the trace handler.
bool traceReachesFile(CapturingLogHandler* trace, const std::string& className)
{
    RasDescriptor rd(className, "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    trace->clear();
    if (rd.isFlowOn()) {
        Trace::entry(rd, "probe");
        Trace::exit(rd, "probe");
    }
    return !trace->messagesOf(LogRecordType::ENTRY).empty();
}

} // namespace

TEST(RASEnvironmentTest, TextFormsAreSeventeenCharacters)
{
    EXPECT_EQ(RASEnvironment().toString(), "UNSPECIFIED      ");
    EXPECT_EQ(RASEnvironment(RASEnvironment::DAEMON_FOREGROUND).toString(), "DAEMON_FOREGROUND");
    EXPECT_EQ(RASEnvironment(3).toString(), "???              ");
}

TEST_F(DiagnosticsTest, NothingTracesBeforeTheFirstTraceSettingAndEmptyEntriesStillCount)
{
    Logger::getLogger("RasT0")->setLevel(LogLevel::ALL);
    RasDescriptor rd("RasT0", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    EXPECT_FALSE(RAS::isTraceAvailable());
    EXPECT_FALSE(rd.isFlowOn());
    RAS::setLevel("::");
    EXPECT_TRUE(RAS::isTraceAvailable());
    EXPECT_EQ(levelOf("RasT0"), LogLevel::ALL);   // "::" names nothing, but "RasT0" is no trace logger either
    EXPECT_TRUE(rd.isFlowOn());
    EXPECT_TRUE(events->sawMessageContaining("ZRKNV0018")) << events->messages.size();
    EXPECT_TRUE(events->sawMessageContaining("::"));
    Logger::getLogger("RasT0")->setLevel(LogLevel::INFO);
}

TEST_F(DiagnosticsTest, AncestorPackageOfThePrefixSetsTheRootAndAttachesTheTraceFile)
{
    RAS::setLevel("com.quillon.velbrix=all");
    EXPECT_EQ(levelOf(""), LogLevel::ALL);
    EXPECT_EQ(levelOf("RasT1.Anything"), LogLevel::ALL);
    EXPECT_TRUE(traceReachesFile(trace, "RasT1.Anything"));
    RAS::setLevel("=flow");
    EXPECT_EQ(levelOf(""), LogLevel::FINE);
    RAS::setLevel("=all");
    EXPECT_EQ(levelOf("RasT1.Other"), LogLevel::ALL);
    RAS::setLevel(under("RasT1") + "=flow");   // a reset: the root goes back to CONFIG
    EXPECT_EQ(levelOf(""), LogLevel::CONFIG);
    EXPECT_EQ(levelOf("RasT1.Anything"), LogLevel::FINE);
    RAS::setLevel(std::string(PREFIX) + "=moderate");
    EXPECT_EQ(levelOf(""), LogLevel::FINER);
}

TEST_F(DiagnosticsTest, PlusKeepsTheLoggersAndAPlainSettingResetsThem)
{
    RAS::setLevel(under("RasT2A") + "=flow");
    RAS::setLevel("+" + under("RasT2B") + "=verbose");
    EXPECT_EQ(levelOf("RasT2A"), LogLevel::FINE);
    EXPECT_EQ(levelOf("RasT2B"), LogLevel::FINEST);

    RAS::setLevel(under("RasT2B") + "=flow");
    EXPECT_EQ(levelOf("RasT2A"), LogLevel::INFO);
    EXPECT_EQ(levelOf("RasT2B"), LogLevel::FINE);
    EXPECT_FALSE(traceReachesFile(trace, "RasT2A"));
    EXPECT_TRUE(traceReachesFile(trace, "RasT2B"));
}

TEST_F(DiagnosticsTest, ResetDetachesTheTraceFileAndKeepsEventsOfFormerlyTracedClasses)
{
    RAS::setLevel(under("RasT3") + "=flow");
    trace->clear();
    RAS::setLevel(under("RasT3") + "=off");   // "off" is INFO: trace off, events on
    EXPECT_EQ(levelOf("RasT3"), LogLevel::INFO);
    // The change message reached the event handler but no longer the detached trace handler.
    EXPECT_TRUE(events->sawMessageContaining("RasT3=off"));
    EXPECT_FALSE(trace->sawMessageContaining("RasT3=off"));

    RAS::setLevel(under("RasT3b") + "=flow");
    RasDescriptor rd("RasT3", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    events->clear();
    EventLog::infoNoFormat(rd, "still heard");
    EXPECT_EQ(events->messages, std::vector<std::string>{"still heard"});
    EXPECT_NE(events->lines.front().find(" RasT3" + std::string(9, ' ') + "I still heard"), std::string::npos)
        << events->lines.front();
}

TEST_F(DiagnosticsTest, NamesWithoutLevelGetAllAndUnknownWordsReadInfo)
{
    RAS::setLevel(under("RasT4A") + "," + under("RasT4B"));
    EXPECT_EQ(levelOf("RasT4A"), LogLevel::ALL);
    EXPECT_EQ(levelOf("RasT4B"), LogLevel::ALL);
    RAS::setLevel("+" + under("RasT4A") + "=bogus");
    EXPECT_EQ(levelOf("RasT4A"), LogLevel::INFO);

    struct { const char* word; LogLevel level; } words[] = {
        {"CONFIG", LogLevel::CONFIG}, {"warning", LogLevel::WARNING}, {"Error", LogLevel::SEVERE},
        {"fatal", LogLevel::SEVERE},  {"severe", LogLevel::SEVERE},   {"verbose", LogLevel::FINEST},
        {"MODERATE", LogLevel::FINER}, {"Flow", LogLevel::FINE},      {"info", LogLevel::INFO},
        {"", LogLevel::INFO},          {"flow ", LogLevel::INFO}};
    for (const auto& w : words) {
        RAS::setLevel("+" + under("RasT4C") + "=" + w.word);
        EXPECT_EQ(levelOf("RasT4C"), w.level) << w.word;
    }
}

TEST_F(DiagnosticsTest, MalformedTraceSettingsNeitherCrashNorTouchOtherLoggers)
{
    const char* settings[] = {"", "+", "=", "==", ":::", ",,,", "=x=y", "+:=:", "a=", "=,=", "\xff\xfe=all"};
    for (const char* s : settings) {
        RAS::setLevel(s);
    }
    EXPECT_TRUE(RAS::isTraceAvailable());
    RasDescriptor rd("RasT5", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    EXPECT_FALSE(rd.isFlowOn());
    // A name that only starts like the prefix is not under it.
    RAS::setLevel("com.quillon.velbrix.nativeRasT5=all");
    EXPECT_FALSE(rd.isFlowOn());
}

TEST_F(DiagnosticsTest, InitialisingAgainReplacesHandlersOnlyInUnitTests)
{
    bool firstGone = false, ignoredGone = false, consoleGone = false;
    CapturingLogHandler* replacement = new CapturingLogHandler(&firstGone);
    RAS::initialize(RASEnvironment::UNITTEST, replacement, nullptr, nullptr, PREFIX);
    events = nullptr;   // deleted by the re-initialisation
    RAS::initialize(RASEnvironment::DAEMON, new CapturingLogHandler(&ignoredGone), new CapturingLogHandler(&consoleGone),
                    nullptr, "other.prefix");
    EXPECT_TRUE(ignoredGone);
    EXPECT_TRUE(consoleGone);
    EXPECT_FALSE(firstGone);
    EXPECT_EQ(RAS::getEnvironment(), RASEnvironment::DAEMON);
    EXPECT_EQ(RAS::getTraceSpecNamePrefix(), PREFIX);

    RasDescriptor rd("RasT6", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    EventLog::warningNoFormat(rd, "to the replacement");
    EXPECT_EQ(replacement->messages, std::vector<std::string>{"to the replacement"});
    RAS::shutdown();
    EXPECT_TRUE(firstGone);
}

TEST_F(DiagnosticsTest, ConsoleHandlerJoinsOnlyInTheForegroundAndInUnitTests)
{
    bool consoleGone = false;
    RAS::shutdown();
    CapturingLogHandler* event = new CapturingLogHandler();
    RAS::initialize(RASEnvironment::DAEMON, event, new CapturingLogHandler(&consoleGone), nullptr, PREFIX);
    EXPECT_TRUE(consoleGone);
    RAS::shutdown();
    CapturingLogHandler* console = new CapturingLogHandler();
    RAS::initialize(RASEnvironment::DAEMON_FOREGROUND, new CapturingLogHandler(), console, nullptr, PREFIX);
    RasDescriptor rd("RasT7", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    EventLog::errorNoFormat(rd, "shown on the console");
    EXPECT_EQ(console->messages, std::vector<std::string>{"shown on the console"});
}

TEST_F(DiagnosticsTest, ShutdownGivesBackTheLevelsTheTraceSettingChanged)
{
    RAS::setLevel(under("RasT8") + "=all");
    RasDescriptor rd("RasT8", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    EXPECT_TRUE(rd.isOn(TraceLevel::VERBOSE));
    RAS::shutdown();
    EXPECT_FALSE(RAS::isTraceAvailable());
    EXPECT_FALSE(rd.isFlowOn());
    EXPECT_EQ(levelOf("RasT8"), LogLevel::INFO);
    EXPECT_EQ(RAS::getEnvironment(), RASEnvironment::UNSPECIFIED);
    EXPECT_EQ(RAS::getTraceSpecNamePrefix(), "");
    // The next set-up starts clean.
    RAS::initialize(RASEnvironment::UNITTEST, new CapturingLogHandler(), nullptr, nullptr, PREFIX);
    RAS::setLevel(under("RasT8other") + "=flow");
    EXPECT_FALSE(rd.isFlowOn());
}

TEST_F(DiagnosticsTest, LogPathComesFromTheProcessEnvironment)
{
    KorrEnvironment::setProperty("com.quillon.velbrix.native.logdir", "/var/log/velbrix-test");
    RAS::initialize(RASEnvironment::UNITTEST, new CapturingLogHandler(), nullptr, nullptr, PREFIX);
    events = nullptr;
    EXPECT_EQ(RAS::getLogPath(), "/var/log/velbrix-test");
}
