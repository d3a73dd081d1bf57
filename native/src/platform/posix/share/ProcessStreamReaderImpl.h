// Drains the pipes of a child (its output and, once attached, its error stream) on one thread
// and hands each chunk to that pipe's listener, until end of data on all of them. The reads
// wait in poll() beside a wake-up pipe, so requestStop() ends them at any time without losing
// bytes: what was not read stays in the pipes for the next reader.
#ifndef OSTARA_PROCESSSTREAMREADERIMPL_H
#define OSTARA_PROCESSSTREAMREADERIMPL_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

#include "KorrRunnable.h"
#include "ProcessStreamReader.h"

class ProcessStreamReaderImpl : public ProcessStreamReader, public KorrRunnable
{
public:
    // Largest chunk one read delivers.
    static const std::size_t BUFFER_SIZE = 65536;
    // Pipes one reader drains.
    static const int MAX_STREAMS = 2;

    // Reads `descriptor` (not owned). Throws a KorrException when the wake-up pipe
    // cannot be created.
    ProcessStreamReaderImpl(int descriptor, ProcessStreamReaderListener& listener);
    ~ProcessStreamReaderImpl() override;

    // Also reads `descriptor` (not owned), from now on, for `listener`. False when the reader
    // already drains MAX_STREAMS pipes or has ended (or is ending): then nothing changes.
    bool attach(int descriptor, ProcessStreamReaderListener& listener);

    // Returns 0 at end of data on every pipe, after a failed read, or when asked to stop or
    // finish.
    long run() override;
    // Ends run() before its next read; safe from any thread, also before run() starts.
    void requestStop() override;
    // Delivers what the pipes already hold, then ends run() without waiting for end of
    // data (a process that inherited a pipe may keep it open indefinitely).
    void requestFinish();
    // True once run() has returned, waiting for that at most `milliseconds`.
    bool waitEnded(long milliseconds);

private:
    enum Mode { READING, FINISHING, STOPPING };
    struct Stream {
        int descriptor = -1;
        ProcessStreamReaderListener* listener = nullptr;
        bool done = false;       // end of data, a failed read, or finished
        long remaining = -1;     // when finishing: bytes the pipe held when finishing began
        std::string data;        // read straight into, then handed on: no copy per chunk
    };
    void wake(Mode next);
    // Makes the poll in run() return, so that it looks at the mode and the streams again.
    void poke();
    // Reads one chunk of `stream` and hands it on; false when the stream is done.
    bool readChunk(Stream& stream, int current);

    Stream streams[MAX_STREAMS];
    int wakeRead;
    int wakeWrite;
    std::atomic<int> mode;
    std::mutex endLock;
    std::condition_variable endChanged;
    int attached;   // streams set up; guarded by endLock
    bool ending;    // run() has decided to return; guarded by endLock
    bool ended;     // guarded by endLock
};

#endif
