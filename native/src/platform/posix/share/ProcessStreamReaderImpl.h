// Drains one pipe of a child and hands each chunk to the listener, until end of data.
// The read waits in poll() beside a wake-up pipe, so requestStop() ends it at any time
// without losing bytes: what was not read stays in the pipe for the next reader.
#ifndef OSTARA_PROCESSSTREAMREADERIMPL_H
#define OSTARA_PROCESSSTREAMREADERIMPL_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "KorrRunnable.h"
#include "ProcessStreamReader.h"

class ProcessStreamReaderImpl : public ProcessStreamReader, public KorrRunnable
{
public:
    // Largest chunk one read delivers.
    static const std::size_t BUFFER_SIZE = 65536;

    // Reads `descriptor` (not owned). Throws a KorrException when the wake-up pipe
    // cannot be created.
    ProcessStreamReaderImpl(int descriptor, ProcessStreamReaderListener& listener);
    ~ProcessStreamReaderImpl() override;

    // Returns 0 at end of data, after a failed read, or when asked to stop or finish.
    long run() override;
    // Ends run() before its next read; safe from any thread, also before run() starts.
    void requestStop() override;
    // Delivers what the pipe already holds, then ends run() without waiting for end of
    // data (a process that inherited the pipe may keep it open indefinitely).
    void requestFinish();
    // True once run() has returned, waiting for that at most `milliseconds`.
    bool waitEnded(long milliseconds);

private:
    enum Mode { READING, FINISHING, STOPPING };
    void wake(Mode next);

    int descriptor;
    int wakeRead;
    int wakeWrite;
    std::atomic<int> mode;
    std::mutex endLock;
    std::condition_variable endChanged;
    bool ended;   // guarded by endLock
};

#endif
