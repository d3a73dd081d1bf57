#include <algorithm>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "DiagnosticsTestSupport.h"
#include "LogRecord.h"
#include "Logger.h"
#include "RAS.h"

namespace {

bool lists(Logger* parent, Logger* child)
{
    std::vector<Logger*> children = parent->getChildLoggers();
    return std::find(children.begin(), children.end(), child) != children.end();
}

LogRecord event(LogLevel::LogLevelValue level, const std::string& message)
{
    LogRecord record(level, LogRecordType::EVENT, message);
    record.setSourceClassName("LoggerTest");
    return record;
}

// No diagnostics set-up and no root logger, so that a test sees only the loggers it makes.
class LoggerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RAS::shutdown();
        delete Logger::getLogger("");
    }
};

} // namespace

TEST_F(LoggerTest, DeepestRegisteredAncestorBecomesParentAndEveryAncestorListsTheChild)
{
    Logger* a = Logger::getLogger("lt1");
    Logger* abc = Logger::getLogger("lt1.b.c");
    Logger* ab = Logger::getLogger("lt1.b");
    EXPECT_EQ(Logger::getLogger("lt1.b"), ab);
    EXPECT_EQ(abc->getParent(), ab);
    EXPECT_EQ(ab->getParent(), a);
    EXPECT_EQ(a->getParent(), nullptr);
    EXPECT_TRUE(lists(a, abc));
    EXPECT_TRUE(lists(a, ab));
    EXPECT_TRUE(lists(ab, abc));
    // "lt1x" is not under "lt1".
    EXPECT_EQ(Logger::getLogger("lt1x")->getParent(), nullptr);
}

TEST_F(LoggerTest, RootAdoptsOrphansAndLaterLoggersAndLeavesThemWhenDeleted)
{
    Logger* orphan = Logger::getLogger("lt2");
    Logger* child = Logger::getLogger("lt2.c");
    Logger* root = Logger::getLogger("");
    EXPECT_EQ(orphan->getParent(), root);
    EXPECT_EQ(child->getParent(), orphan);
    EXPECT_FALSE(lists(root, child));
    Logger* late = Logger::getLogger("lt2late");
    EXPECT_EQ(late->getParent(), root);

    std::ostringstream out;
    out << *root;
    EXPECT_NE(out.str().find("Logger:(parent: "), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(", level: INFO   , logHandlers.size(): 0, childLoggers.size(): "), std::string::npos);

    // A deleted root leaves no dangling parent behind; the next root adopts the loggers again.
    delete root;
    EXPECT_EQ(orphan->getParent(), nullptr);
    LogRecord record = event(LogLevel::INFO, "after the root is gone");
    orphan->log(record);
    Logger* second = Logger::getLogger("");
    EXPECT_EQ(orphan->getParent(), second);
    delete second;
}

TEST_F(LoggerTest, RecordReachesHandlersOfEveryAncestorInOrderAboveTheLoggersLevel)
{
    Logger* top = Logger::getLogger("lt3");
    Logger* leaf = Logger::getLogger("lt3.x.y");
    CapturingLogHandler topHandler, leafHandler;
    top->addHandler(topHandler);
    top->addHandler(topHandler);   // duplicates are allowed and publish twice
    leaf->addHandler(leafHandler);

    LogRecord fine = event(LogLevel::FINE, "below INFO");
    leaf->log(fine);
    LogRecord info = event(LogLevel::INFO, "at INFO");
    leaf->log(info);
    EXPECT_EQ(leafHandler.messages, std::vector<std::string>{"at INFO"});
    EXPECT_EQ(topHandler.messages.size(), 2u);

    // Only the logger the record is offered to tests the level.
    top->setLevel(LogLevel::SEVERE);
    leaf->setLevel(LogLevel::ALL);
    leaf->log(fine);
    EXPECT_EQ(topHandler.messages.size(), 4u);

    top->removeHandler(topHandler);
    leaf->removeHandler(leafHandler);
    leaf->log(info);
    EXPECT_EQ(topHandler.messages.size(), 4u);
    EXPECT_EQ(leafHandler.messages.size(), 2u);
}

TEST_F(LoggerTest, SetLevelReachesEveryDescendantAndNewLoggersTakeTheirParentsLevel)
{
    Logger* top = Logger::getLogger("lt4");
    Logger* mid = Logger::getLogger("lt4.m");
    Logger* leaf = Logger::getLogger("lt4.m.l");
    top->setLevel(LogLevel::FINEST);
    EXPECT_EQ(mid->getLevel(), LogLevel::FINEST);
    EXPECT_EQ(leaf->getLevel(), LogLevel::FINEST);
    EXPECT_TRUE(leaf->isLoggable(LogLevel::FINEST));
    mid->setLevel(LogLevel::WARNING);
    EXPECT_EQ(top->getLevel(), LogLevel::FINEST);
    EXPECT_FALSE(leaf->isLoggable(LogLevel::INFO));
    // A class that builds its logger after trace was set for its package is traced too.
    EXPECT_EQ(Logger::getLogger("lt4.m.late")->getLevel(), LogLevel::WARNING);
    EXPECT_EQ(Logger::getLogger("lt4other")->getLevel(), LogLevel::INFO);
}

TEST_F(LoggerTest, WithoutAnyHandlerWarningsAndErrorsGoToStandardError)
{
    Logger* logger = Logger::getLogger("lt5.quiet");
    testing::internal::CaptureStderr();
    LogRecord info = event(LogLevel::INFO, "info is dropped");
    LogRecord warning = event(LogLevel::WARNING, "warning shown");
    LogRecord severe = event(LogLevel::SEVERE, "severe shown");
    logger->log(info);
    logger->log(warning);
    logger->log(severe);
    std::string err = testing::internal::GetCapturedStderr();
    std::ostringstream expected;
    expected << warning << "\n" << severe << "\n";
    EXPECT_EQ(err, expected.str());

    // A handler anywhere on the way up takes them instead.
    CapturingLogHandler handler;
    Logger::getLogger("lt5")->addHandler(handler);
    testing::internal::CaptureStderr();
    logger->log(severe);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(handler.messages.size(), 1u);
    Logger::getLogger("lt5")->removeHandler(handler);
}

TEST_F(LoggerTest, ConcurrentFirstUseBuildsOneLoggerPerName)
{
    std::vector<std::thread> threads;
    std::vector<Logger*> seen(8);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&seen, t] {
            for (int i = 0; i < 200; ++i) {
                Logger* l = Logger::getLogger("lt6.n" + std::to_string(i));
                if (i == 199) {
                    seen[t] = l;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (Logger* l : seen) {
        EXPECT_EQ(l, seen[0]);
    }
    EXPECT_EQ(Logger::getLogger("lt6")->getChildLoggers().size(), 200u);
}
