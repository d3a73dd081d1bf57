#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KorrProcess.h"
#include "ProcessListener.h"
#include "TestChild.h"

namespace {

// A string sink that counts flushes.
class CountingBuffer : public std::stringbuf
{
public:
    int flushes = 0;

protected:
    int sync() override
    {
        ++flushes;
        return std::stringbuf::sync();
    }
};

std::string pieces(int count, char tag)
{
    std::string s;
    for (int i = 0; i < count; ++i) {
        s += tag;
        s += std::to_string(i);
        s += (i % 7 == 0) ? std::string(1, '\0') : std::string("\n");
    }
    return s;
}

} // namespace

// Writes a long mix of lines, partial lines and NUL bytes to both streams, then exits with 9.
OSTARA_TEST_CHILD_ROLE(chatter)
{
    std::string out = pieces(50000, 'o');
    std::string err = pieces(30000, 'e');
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fwrite(err.data(), 1, err.size(), stderr);
    return 9;
}

TEST(ProcessListenerTest, WritesEachChunkUnchangedAndFlushesEvenAnEmptyOne)
{
    CountingBuffer buffer;
    std::ostream target(&buffer);
    ProcessListener listener(target);

    std::string first("half a li");
    std::string second("ne\nnext\0line", 12);
    std::string empty;
    listener.onData(first);
    EXPECT_EQ(buffer.flushes, 1);
    listener.onData(second);
    EXPECT_EQ(buffer.flushes, 2);
    listener.onData(empty);
    EXPECT_EQ(buffer.flushes, 3);
    EXPECT_EQ(buffer.str(), std::string("half a line\nnext\0line", 21)); // no separator added
}

TEST(ProcessListenerTest, CopiesWriteToTheSameTargetAndTheDefaultIsStandardOutput)
{
    std::ostringstream one;
    std::ostringstream two;
    ProcessListener a(one);
    ProcessListener copy(a);
    ProcessListener assigned(two);
    assigned = a;
    std::string x("x");
    std::string y("y");
    copy.onData(x);
    assigned.onData(y);
    EXPECT_EQ(one.str(), "xy");
    EXPECT_EQ(two.str(), "");

    std::ostringstream captured;
    std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
    ProcessListener standard;
    std::string z("to stdout");
    standard.onData(z);
    std::cout.rdbuf(saved);
    EXPECT_EQ(captured.str(), "to stdout");
}

TEST(ProcessListenerTest, CopiesBothStreamsOfAChildCompletelyByTheTimeTheWaitReturns)
{
    setenv("OSTARA_TEST_CHILD", "chatter", 1);
    std::string self = TestChild::selfPath();
    char* argv[] = {&self[0], nullptr};
    std::unique_ptr<KorrProcess> process(KorrProcess::newInstance(1, argv));
    std::ostringstream out;
    std::ostringstream err;
    ProcessListener toOut(out);
    ProcessListener toErr(err);
    process->start();
    process->registerOutputStreamListener(toOut);
    process->registerErrorStreamListener(toErr);
    EXPECT_EQ(process->waitForProcess(), 9);
    // The pieces hold no carriage return; a Windows child's text streams add one to each line.
    auto text = [](std::string s) {
        s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
        return s;
    };
    EXPECT_TRUE(text(out.str()) == pieces(50000, 'o')) << out.str().size() << " bytes on stdout";
    EXPECT_TRUE(text(err.str()) == pieces(30000, 'e')) << err.str().size() << " bytes on stderr";
}
