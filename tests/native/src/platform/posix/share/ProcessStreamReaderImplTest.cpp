#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "CollectingListener.h"

#include "KorrThreadImpl.h"
#include "ProcessStreamReaderImpl.h"
#include "ProcessStreamReaderListener.h"

namespace {

struct Pipe {
    Pipe() { EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0); }
    ~Pipe()
    {
        close(ends[0]);
        close(ends[1]);
    }
    void put(const std::string& s) { ASSERT_EQ(write(ends[1], s.data(), s.size()), static_cast<ssize_t>(s.size())); }
    std::string rest()
    {
        fcntl(ends[0], F_SETFL, O_NONBLOCK);
        char buffer[256];
        ssize_t n = read(ends[0], buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
    int ends[2];
};

template <class P> bool within(int seconds, P predicate)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (predicate()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return predicate();
}

} // namespace

TEST(ProcessStreamReaderImplTest, StopEndsABlockedReadAndLeavesLaterBytesInThePipe)
{
    Pipe pipe;
    CollectingListener listener;
    ProcessStreamReaderImpl reader(pipe.ends[0], listener);
    KorrThreadImpl thread(&reader);
    thread.start();
    pipe.put("first");
    ASSERT_TRUE(within(5, [&] { return listener.received() == "first"; }));

    thread.stop(); // the writer is still open: only the wake-up can end the read
    EXPECT_FALSE(thread.isAlive());
    pipe.put("second");
    EXPECT_EQ(pipe.rest(), "second");
    EXPECT_EQ(listener.received(), "first");
}

TEST(ProcessStreamReaderImplTest, StopBeforeRunReadsNothing)
{
    Pipe pipe;
    pipe.put("unread");
    CollectingListener listener;
    ProcessStreamReaderImpl reader(pipe.ends[0], listener);
    reader.requestStop();
    EXPECT_EQ(reader.run(), 0);
    EXPECT_EQ(listener.chunks(), 0);
    EXPECT_EQ(pipe.rest(), "unread");
}

TEST(ProcessStreamReaderImplTest, FinishDeliversWhatIsQueuedWithoutWaitingForTheWriter)
{
    Pipe pipe;
    std::string queued(200000, '\0'); // more than one read, NUL bytes included
    for (size_t i = 0; i < queued.size(); ++i) {
        queued[i] = static_cast<char>(i % 251);
    }
    CollectingListener listener;
    ProcessStreamReaderImpl reader(pipe.ends[0], listener);
    KorrThreadImpl thread(&reader);
    // The writer fills the pipe as fast as the reader drains it; when it is done, up to a
    // pipe's worth is still queued.
    std::thread writer([&] { pipe.put(queued); });
    thread.start();
    writer.join();
    reader.requestFinish();
    thread.join(); // the write end stays open: only finishing ends the reader
    EXPECT_EQ(listener.received(), queued);
}

// Also: the buffer handed on holds what the pipe held, not a full read's 64 KiB, so the
// readers of a quiet agent stay small.
TEST(ProcessStreamReaderImplTest, EndsAtEndOfDataWithEveryByte)
{
    struct SizedListener : CollectingListener {
        void onData(std::string& data) override
        {
            largest = std::max(largest, data.capacity());
            CollectingListener::onData(data);
        }
        std::size_t largest = 0;
    };
    Pipe pipe;
    SizedListener listener;
    ProcessStreamReaderImpl reader(pipe.ends[0], listener);
    std::string payload("a\0b\nc", 5);
    pipe.put(payload);
    close(pipe.ends[1]);
    pipe.ends[1] = open("/dev/null", O_WRONLY | O_CLOEXEC); // keeps the destructor's close harmless
    EXPECT_EQ(reader.run(), 0);
    EXPECT_EQ(listener.received(), payload);
    EXPECT_LT(listener.largest, 4096u);
}

// One thread drains both streams of a child: a stream attached while it runs reaches its own
// listener, the reader ends only at end of data on both, and one that has ended takes no more.
TEST(ProcessStreamReaderImplTest, DrainsAnAttachedSecondStreamAndEndsAfterBoth)
{
    Pipe output;
    Pipe error;
    CollectingListener outputListener;
    CollectingListener errorListener;
    ProcessStreamReaderImpl reader(output.ends[0], outputListener);
    KorrThreadImpl thread(&reader);
    thread.start();
    output.put("out1");
    ASSERT_TRUE(within(5, [&] { return outputListener.received() == "out1"; }));
    error.put("err1");
    ASSERT_TRUE(reader.attach(error.ends[0], errorListener));
    ASSERT_TRUE(within(5, [&] { return errorListener.received() == "err1"; }));

    close(output.ends[1]);
    output.ends[1] = open("/dev/null", O_WRONLY | O_CLOEXEC);
    EXPECT_FALSE(reader.waitEnded(50)); // the error stream is still open
    error.put("err2");
    close(error.ends[1]);
    error.ends[1] = open("/dev/null", O_WRONLY | O_CLOEXEC);
    EXPECT_TRUE(reader.waitEnded(5000));
    thread.join();
    EXPECT_EQ(outputListener.received(), "out1");
    EXPECT_EQ(errorListener.received(), "err1err2");

    Pipe late;
    CollectingListener lateListener;
    EXPECT_FALSE(reader.attach(late.ends[0], lateListener));
}
