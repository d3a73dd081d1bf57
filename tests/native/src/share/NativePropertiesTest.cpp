#include <cstdio>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "KorrEnvironment.h"
#include "KorrException.h"
#include "KorrPropConstant.h"
#include "KorrUtils.h"
#include "NativeProperties.h"
#include "NativePropertyItem.h"
#include "PropertyNotFoundException.h"
#include "TempDir.h"

namespace {

// The catalogue message a call throws, or "" when it does not throw.
template <class F> std::string thrownBy(F call)
{
    try {
        call();
    } catch (const KorrException& e) {
        return e.getMessage();
    }
    return "";
}

NativeProperties load(const TempDir& dir, const std::string& text, const std::string& name = "agent.properties")
{
    NativeProperties p;
    p.loadProperties(dir.write(name, text));
    return p;
}

std::string text(const NativeProperties& p)
{
    std::ostringstream out;
    out << p;
    return out.str();
}

} // namespace

TEST(NativePropertiesTest, LinesAreTrimmedSplitAtTheFirstEqualsAndTheFirstKeyWins)
{
    TempDir dir;
    NativeProperties p = load(dir,
                              "  maxRestartCount =  7  \r\n"
                              "a=b=c\n"
                              "=orphan\n"
                              "no separator\n"
                              "\n"
                              "k=\n"
                              "#x=1\n"
                              " #x=1\n"
                              "!y=2\n"
                              "dup=1\n"
                              "dup=2\n"
                              " \t=blank key\n"
                              "bytes=\xc3\xa9\xff\x01 end\n"
                              "last=no line end");
    EXPECT_EQ(text(p), "!y=2,#x=1,a=b=c,bytes=\xc3\xa9\xff\x01 end,dup=1,k=,last=no line end,maxRestartCount=7");
    EXPECT_EQ(p.getPropertyAsInteger(NativePropertyItem("dup", 0)), 1);
    EXPECT_EQ(p.getPropertyAsInteger(KorrPropConstant::getInstance().maxRestartCount), 7);
    EXPECT_TRUE(p.contains(NativePropertyItem("k")));
    EXPECT_EQ(p.getPropertyAsString(NativePropertyItem("k", "default")), "");
}

TEST(NativePropertiesTest, BadValuesNameKeyAndValueAndAreNeverReplacedByTheDefault)
{
    TempDir dir;
    NativeProperties p = load(dir,
                              "zero=0\nletters=abc\nmixed=12abc\nsigned= -5\nhuge=4294967297\nhuger=99999999999999999999999\n"
                              "yes=YES\noff=Off\none=1\n");
    NativePropertyItem positive("zero", 9, 1, 2147483647);
    EXPECT_EQ(thrownBy([&] { p.getPropertyAsInteger(positive); }).substr(0, 10), "ZRKNV0119E");
    EXPECT_NE(thrownBy([&] { p.getPropertyAsInteger(positive); }).find("zero"), std::string::npos);

    std::string notANumber = thrownBy([&] { p.getPropertyAsInteger(NativePropertyItem("letters", 3)); });
    EXPECT_EQ(notANumber.substr(0, 10), "ZRKNV0118E");
    EXPECT_NE(notANumber.find("letters"), std::string::npos);
    EXPECT_NE(notANumber.find("abc"), std::string::npos);

    EXPECT_EQ(p.getPropertyAsInteger(NativePropertyItem("mixed", 3)), 12);   // read as "%d" reads it
    EXPECT_EQ(p.getPropertyAsInteger(NativePropertyItem("signed", 3, -10, 10)), -5);
    // Beyond 32 bits a number is out of range; it never wraps into range.
    std::string wrapped = thrownBy([&] { p.getPropertyAsInteger(NativePropertyItem("huge", 3)); });
    EXPECT_EQ(wrapped.substr(0, 10), "ZRKNV0119E");
    EXPECT_NE(wrapped.find("4294967297"), std::string::npos);
    EXPECT_EQ(thrownBy([&] { p.getPropertyAsInteger(NativePropertyItem("huger", 3)); }).substr(0, 10), "ZRKNV0119E");
    // An absent key gives the default, which is not checked against the range.
    EXPECT_EQ(p.getPropertyAsInteger(NativePropertyItem("absent", 9, 1, 2)), 9);

    EXPECT_TRUE(p.getPropertyAsBoolean(NativePropertyItem("yes", false)));
    EXPECT_FALSE(p.getPropertyAsBoolean(NativePropertyItem("off", true)));
    std::string notABoolean = thrownBy([&] { p.getPropertyAsBoolean(NativePropertyItem("one", true)); });
    EXPECT_EQ(notABoolean.substr(0, 10), "ZRKNV0120E");
    EXPECT_NE(notABoolean.find("one"), std::string::npos);

    EXPECT_EQ(thrownBy([&] { p.getPropertyAsString(NativePropertyItem("zero", 1)); }).substr(0, 10), "ZRKNV0115E");
    EXPECT_EQ(thrownBy([&] { p.getPropertyAsInteger(NativePropertyItem("zero")); }).substr(0, 10), "ZRKNV0116E");
    EXPECT_EQ(thrownBy([&] { p.getPropertyAsBoolean(NativePropertyItem("zero", "x")); }).substr(0, 10), "ZRKNV0117E");
}

TEST(NativePropertiesTest, AFailedReloadKeepsTheValuesLastLoaded)
{
    TempDir dir;
    NativeProperties p = load(dir, "maxRestartCount=3\n");
    std::remove(dir.file("agent.properties").c_str());
    EXPECT_EQ(thrownBy([&] { p.reloadProperties(); }).substr(0, 10), "ZRKNV0122E");
    EXPECT_EQ(p.getPropertyAsInteger(KorrPropConstant::getInstance().maxRestartCount), 3);

    // A directory is not a properties file, even where it opens like one; nor is a file past
    // the size any settings file has, which would otherwise be read whole into memory.
    EXPECT_EQ(thrownBy([&] { p.loadProperties(dir.path()); }).substr(0, 10), "ZRKNV0122E");
    std::string huge = dir.write("huge.properties",
                                 "a=1\n" + std::string(static_cast<std::size_t>(KorrUtils::READ_FILE_LIMIT), '#'));
    EXPECT_EQ(thrownBy([&] { p.loadProperties(huge); }).substr(0, 10), "ZRKNV0122E");
    EXPECT_EQ(text(p), "maxRestartCount=3");

    dir.write("agent.properties", "maxRestartCount=5\n");
    p.loadProperties(dir.file("agent.properties"));
    EXPECT_EQ(text(p), "maxRestartCount=5");
}

TEST(NativePropertiesTest, AReloadReadsTheFileOnlyWhenItChanged)
{
    TempDir dir;
    NativeProperties p = load(dir, "maxRestartCount=3\n");
    p.setProperty("maxRestartCount", "9");   // stands for an unread file: kept while unchanged
    p.reloadProperties();
    EXPECT_EQ(text(p), "maxRestartCount=9");
    dir.write("agent.properties", "maxRestartCount=12\n");
    p.reloadProperties();
    EXPECT_EQ(text(p), "maxRestartCount=12");
}

TEST(NativePropertiesTest, ACopyHasTheEntriesButNoFile)
{
    TempDir dir;
    NativeProperties loaded = load(dir, "b=2\na=1\n");
    EXPECT_TRUE(loaded.isAgentProperties());
    EXPECT_FALSE(loaded.isLoggerProperties());
    NativeProperties copy(loaded);
    EXPECT_EQ(text(copy), "a=1,b=2");
    EXPECT_FALSE(copy.isAgentProperties());
    std::string message = thrownBy([&] { copy.reloadProperties(); });
    EXPECT_EQ(message.substr(0, 10), "ZRKNV0123E");

    NativeProperties logger = load(dir, "c=3\n", "logger.properties");
    logger = loaded;   // entries only: the target keeps its own file
    EXPECT_EQ(text(logger), "a=1,b=2");
    EXPECT_TRUE(logger.isLoggerProperties());
    logger.reloadProperties();
    EXPECT_EQ(text(logger), "c=3");

    NativeProperties status;
    EXPECT_EQ(text(status), "");
    status.setProperty("x", "1");
    status.setProperty("x", "2");
    EXPECT_EQ(text(status), "x=2");
}

TEST(NativePropertyItemTest, StreamFormsAndDefaults)
{
    std::ostringstream out;
    out << NativePropertyItem("s", "def") << "|" << NativePropertyItem("i", 4, 0, 9) << "|"
        << NativePropertyItem("b", true) << "|" << NativePropertyItem("f", -1);
    EXPECT_EQ(out.str(), "sstring value: def|iinteger value: 4 (min: 0, max: 9)|bboolean value: 1|"
                         "finteger value: -1 (min: -2147483648, max: 2147483647)");
    EXPECT_EQ(NativePropertyItem("literal", "text").getType(), NativePropertyItem::STRING_TYPE);
}

TEST(KorrPropConstantTest, CatalogueHoldsEveryKeyWithItsTypeDefaultAndRange)
{
    const KorrPropConstant& c = KorrPropConstant::getInstance();
    EXPECT_EQ(&c, &KorrPropConstant::getInstance());
    NativeProperties empty;
    EXPECT_EQ(empty.getPropertyAsInteger(c.maxRestartDelay), -1);
    EXPECT_EQ(empty.getPropertyAsInteger(c.agentQMgrRetryInterval), 30);
    EXPECT_EQ(empty.getPropertyAsInteger(c.traceSize), 20);
    EXPECT_EQ(empty.getPropertyAsString(c.trace), "");
    EXPECT_TRUE(empty.getPropertyAsBoolean(c.queueManagerStatus));
    EXPECT_EQ(c.velbrixQueueManagerHost.getKey(), "velbrix.queue.manager.host");
    EXPECT_EQ(c.maxRestartCount.getMinimum(), 0);
    NativeProperties zeroSize;
    zeroSize.setProperty("outputLogSize", "0");
    EXPECT_EQ(thrownBy([&] { zeroSize.getPropertyAsInteger(c.outputLogSize); }).substr(0, 10), "ZRKNV0119E");

    KorrPropConstant::deleteInstance();
    const KorrPropConstant& fresh = KorrPropConstant::getInstance();
    EXPECT_EQ(fresh.totalApplicationRestartCount.getKey(), "totalApplicationRestartCount");
    EXPECT_EQ(fresh.outputLogFiles.getDefaultIntegerValue(), 5);
}

TEST(KorrEnvironmentTest, FirstValueStaysAndUnknownKeysThrow)
{
    KorrEnvironment::setProperty("korr.env.test", "first");
    KorrEnvironment::setProperty("korr.env.test", "second");
    EXPECT_EQ(KorrEnvironment::getProperty("korr.env.test"), "first");
    EXPECT_THROW(KorrEnvironment::getProperty("korr.env.never.set"), PropertyNotFoundException);
}
