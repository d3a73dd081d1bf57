#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "DiagnosticsTestSupport.h"
#include "KorrException.h"
#include "KorrThread.h"
#include "RAS.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

// A traced class "TraceTestSubject" under the prefix, traced at every level.
class TraceTest : public DiagnosticsTest
{
protected:
    void SetUp() override
    {
        DiagnosticsTest::SetUp();
        RAS::setLevel(under("TraceTestSubject") + "=all");
        trace->clear();
    }
    std::vector<std::string> entries() { return trace->messagesOf(LogRecordType::ENTRY); }
    std::vector<std::string> exits() { return trace->messagesOf(LogRecordType::EXIT); }

    RasDescriptor rd{"TraceTestSubject", "com.quillon.velbrix.nativ.common.ZRKNVMessages"};
};

} // namespace

TEST(TraceIndentTest, EveryFifthLevelIsMarkedWithAPlus)
{
    EXPECT_EQ(Trace::generateIndent(0), " ");
    EXPECT_EQ(Trace::generateIndent(1), " ");
    EXPECT_EQ(Trace::generateIndent(2), "- ");
    EXPECT_EQ(Trace::generateIndent(6), "----+ ");
    EXPECT_EQ(Trace::generateIndent(12), "----+----+- ");
}

TEST_F(TraceTest, NestedCallsAreIndentedAndTheRecordNamesThePrefixedClassAndObject)
{
    const char* methods[] = {"m1", "m2", "m3", "m4", "m5", "m6"};
    for (const char* m : methods) {
        Trace::traceMethodEntry(rd, this, m, 2, "arg", nullptr);
    }
    Trace::traceMethodData(rd, TraceLevel::VERBOSE, this, "m6", 1, "x=1");
    for (int i = 5; i >= 0; --i) {
        std::string result = std::to_string(i);
        Trace::traceMethodExit(rd, this, methods[i], &result, "int");
    }
    std::vector<std::string> in = entries();
    ASSERT_EQ(in.size(), 6u);
    EXPECT_EQ(in[0], "  {  m1 [arg] [\"\"]");
    EXPECT_EQ(in[5], "----+  {  m6 [arg] [\"\"]");
    EXPECT_EQ(trace->messagesOf(LogRecordType::DATA), std::vector<std::string>{"----+-  d  m6 data [x=1]"});
    std::vector<std::string> out = exits();
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0], "----+  }  m6 returns [5] int");
    EXPECT_EQ(out[5], "  }  m1 returns [0] int");

    char object[32];
    std::snprintf(object, sizeof object, "@%016llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(static_cast<const void*>(this))));
    char tid[32];
    std::snprintf(tid, sizeof tid, "%016lx", static_cast<unsigned long>(KorrThread::getCurrentThreadId()));
    const std::string& line = trace->lines.front();
    std::string className = under("TraceTestSubject");
    EXPECT_EQ(line.substr(15), std::string("  ") + tid + " " + object + " " + className +
                                   std::string(70 - className.size(), ' ') + "   {  m1 [arg] [\"\"]");
}

TEST_F(TraceTest, ExitWithoutEntryIsReportedAndLeavesTheStackAsItWas)
{
    Trace::entry(rd, "outer");
    Trace::exit(rd, "ghost");
    Trace::exit(rd, "outer");
    std::vector<std::string> out = exits();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "*** Missing Trace::Entry ghost *** -  }  ghost");
    EXPECT_EQ(out[1], "  }  outer");
}

TEST_F(TraceTest, ExitThatSkipsAnOpenMethodNamesIt)
{
    Trace::entry(rd, "outer");
    Trace::entry(rd, "inner");
    Trace::exit(rd, "outer");
    Trace::entry(rd, "next");
    std::vector<std::string> out = exits();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], "*** Missing Trace::Exit inner ***   }  outer");
    EXPECT_EQ(entries().back(), "  {  next ");   // the stack was repaired, not left two deep
    Trace::exit(rd, "next");
}

TEST_F(TraceTest, NoRepairTextRightBehindAThrowingRecord)
{
    KorrException e("gone wrong");
    Trace::entry(rd, "outer");
    Trace::entry(rd, "inner");
    Trace::throwing(rd, "inner", &e);
    Trace::exit(rd, "outer");   // inner's exit is skipped by the exception
    Trace::exit(rd, "ghost");   // the next mismatch is reported again
    EXPECT_EQ(trace->messagesOf(LogRecordType::THROWING),
              std::vector<std::string>{"--  !  inner, class KorrException: gone wrong[class KorrException]"});
    std::vector<std::string> out = exits();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "  }  outer");
    EXPECT_EQ(out[1], "  }  ghost");   // nothing open: no text, but no silence either
    Trace::entry(rd, "a");
    Trace::exit(rd, "b");
    EXPECT_EQ(exits().back(), "*** Missing Trace::Entry b *** -  }  b");
    Trace::exit(rd, "a");
}

TEST_F(TraceTest, TraceCallFromInsideAHandlerProducesNothing)
{
    int published = 0;
    trace->onPublish = [this, &published](LogRecord&) {
        ++published;
        Trace::traceMethodData(rd, TraceLevel::FLOW, nullptr, "fromHandler", 0);
        Trace::entry(rd, "fromHandler");
    };
    Trace::entry(rd, "run");
    trace->onPublish = nullptr;
    EXPECT_EQ(published, 1);
    EXPECT_EQ(entries(), std::vector<std::string>{"  {  run "});
    // The dropped entry left no method on the stack.
    Trace::exit(rd, "run");
    EXPECT_EQ(exits(), std::vector<std::string>{"  }  run"});
}

TEST_F(TraceTest, EachThreadHasItsOwnDepth)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < 50; ++i) {
                Trace::entry(rd, "outer");
                Trace::entry(rd, "inner");
                Trace::exit(rd, "inner");
                Trace::exit(rd, "outer");
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::vector<std::string> in = entries();
    ASSERT_EQ(in.size(), 400u);
    for (const std::string& m : in) {
        EXPECT_TRUE(m == "  {  outer " || m == "-  {  inner ") << m;
    }
    for (const std::string& m : exits()) {
        EXPECT_EQ(m.find("Missing"), std::string::npos) << m;
    }
}

TEST_F(TraceTest, DebugDescriptorWritesToStandardOutputOnlyAtTheDebugLevel)
{
    RasDescriptor debug("TraceTestDebug", nullptr);
    EXPECT_TRUE(debug.isDebug());
    EXPECT_FALSE(debug.isFlowOn());
    RAS::setDebugLevel(TraceLevel::MODERATE);
    EXPECT_TRUE(debug.isOn(TraceLevel::MODERATE));
    EXPECT_TRUE(debug.isFlowOn());
    EXPECT_FALSE(debug.isOn(TraceLevel::VERBOSE));
    EXPECT_FALSE(debug.isOn(TraceLevel::OFF));
    testing::internal::CaptureStdout();
    Trace::entry(debug, "step");
    Trace::exit(debug, "step");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("DEBUG: "), 0u) << out;
    EXPECT_NE(out.find(under("TraceTestDebug") + " "), std::string::npos) << out;
    EXPECT_NE(out.find("  {  step \nDEBUG: "), std::string::npos) << out;
    EXPECT_NE(out.find("  }  step\n"), std::string::npos) << out;
    EXPECT_TRUE(trace->messages.empty());
    RAS::setDebugLevel(TraceLevel::OFF);
    EXPECT_FALSE(debug.isOn(TraceLevel::VERBOSE));
}
