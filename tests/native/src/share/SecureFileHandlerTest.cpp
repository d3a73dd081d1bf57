#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "SecureFileHandler.h"
#include "TempDir.h"

namespace {
bool exists(const std::string& path) { return std::filesystem::exists(path); }
} // namespace

TEST(SecureFileHandlerTest, RotatesThroughTheNumberedSetWhenTheCurrentFileIsFull)
{
    TempDir dir;
    {
        SecureFileHandler h(dir.file("out%g.log"), 10, 3, false, false, 0);
        // 6 bytes each: the second line passes the limit, the third finds the file full.
        for (const char* line : {"one..", "two..", "three", "four.", "five.", "six.."}) {
            h.publish(line);
        }
    }
    EXPECT_EQ("five.\nsix..\n", dir.read("out0.log"));
    EXPECT_EQ("three\nfour.\n", dir.read("out1.log"));
    EXPECT_EQ("one..\ntwo..\n", dir.read("out2.log"));
    EXPECT_FALSE(exists(dir.file("out3.log")));
}

TEST(SecureFileHandlerTest, LimitZeroRotatesBeforeEveryWrite)
{
    TempDir dir;
    {
        SecureFileHandler h(dir.file("z%g.log"), 0, 3, true, false, 0);
        for (const char* line : {"a", "b", "c", "d"}) {
            h.publish(line);
        }
    }
    EXPECT_EQ("d\n", dir.read("z0.log"));
    EXPECT_EQ("c\n", dir.read("z1.log"));
    EXPECT_EQ("b\n", dir.read("z2.log"));
}

TEST(SecureFileHandlerTest, AppendExtendsTheCurrentFileOtherwiseItIsRotatedAway)
{
    TempDir dir;
    dir.write("app0.log", "old\n");
    SecureFileHandler(dir.file("app%g.log"), 1000, 2, true, false, 0).publish("new");
    EXPECT_EQ("old\nnew\n", dir.read("app0.log"));
    EXPECT_FALSE(exists(dir.file("app1.log")));

    SecureFileHandler(dir.file("app%g.log"), 1000, 2, false, false, 0).publish("fresh");
    EXPECT_EQ("fresh\n", dir.read("app0.log"));
    EXPECT_EQ("old\nnew\n", dir.read("app1.log"));

    // Appending to a file already at the limit rotates it at start.
    SecureFileHandler(dir.file("app%g.log"), 6, 2, true, false, 0).publish("next");
    EXPECT_EQ("next\n", dir.read("app0.log"));
    EXPECT_EQ("fresh\n", dir.read("app1.log"));
}

TEST(SecureFileHandlerTest, SecondHandlerOnThePatternTakesTheNextUniqueNumberWhileTheFirstHoldsItsLock)
{
    TempDir dir;
    std::string pattern = dir.file("ev%g.log");
    auto first = std::make_unique<SecureFileHandler>(pattern, 1000, 2, true, false, 0);
    EXPECT_TRUE(exists(dir.file("ev0.log.lck")));
    {
        SecureFileHandler second(pattern, 0, 2, true, false, 0);
        EXPECT_EQ(dir.file("ev0.log.1"), second.getFileName());
        EXPECT_TRUE(exists(dir.file("ev0.log.1.lck")));
        second.publish("x");
        second.publish("y");
        first->publish("mine");
    }
    EXPECT_EQ("x\n", dir.read("ev1.log.1"));   // the generations carry the number too
    EXPECT_FALSE(exists(dir.file("ev0.log.1.lck")));
    EXPECT_EQ("mine\n", dir.read("ev0.log"));
    first.reset();
    EXPECT_FALSE(exists(dir.file("ev0.log.lck")));
    EXPECT_EQ(dir.file("ev0.log"), SecureFileHandler(pattern, 1000, 2, true, false, 0).getFileName());
}

TEST(SecureFileHandlerTest, NamesComeFromThePatternAndSharedNamesNeverLoseTheCurrentFile)
{
    TempDir dir;
    {
        SecureFileHandler h(dir.file("a/b/svc%g.log"), 0, 2, true, false, 20240131);
        h.publish("1");
        h.publish("2");
        SecureFileHandler plain(dir.file("plain.log"), 0, 3, true, false, 0);
        plain.publish("a");
        plain.publish("b");
    }
    EXPECT_EQ("2\n", dir.read("a/b/svc20240131.log"));
    EXPECT_EQ("1\n", dir.read("a/b/svc1.log"));
    EXPECT_EQ("b\n", dir.read("plain.log"));
}

TEST(SecureFileHandlerTest, UnicodeEscapesBecomeUtf8AndNothingElseChanges)
{
    auto convert = SecureFileHandler::getUtf8EncodedString;
    EXPECT_EQ("caf\xC3\xA9", convert("caf\\u00e9"));
    EXPECT_EQ("A", convert("\\u41"));
    EXPECT_EQ("\\uzz", convert("\\uzz"));
    EXPECT_EQ("A!xy", convert("\\u41!xy"));   // only digits belong to the escape
    EXPECT_EQ("\xE2\x82\xAC" "5", convert("\\u20AC5"));   // at most four of them
    EXPECT_EQ("\\u\\x\xE9\\", convert("\\u\\x\xE9\\"));
    EXPECT_EQ("\xF4\x8F\xBF\xBF", SecureFileHandler::convertToUtf8(0x10FFFF));
    EXPECT_EQ("\xDF\xBF", SecureFileHandler::convertToUtf8(0x7FF));
    EXPECT_EQ("", SecureFileHandler::convertToUtf8(0x110000));
}
