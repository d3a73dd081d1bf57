// Drains one pipe of a child and hands each chunk to the listener, until end of data.
// The read blocks in ReadFile; requestStop() and requestFinish() wake it with
// CancelSynchronousIo, which loses no bytes: what was not read stays in the pipe.
#ifndef OSTARA_PROCESSSTREAMREADERIMPL_H
#define OSTARA_PROCESSSTREAMREADERIMPL_H

#include <cstddef>
#include <mutex>

#include "KorrRunnable.h"
#include "ProcessStreamReader.h"

class ProcessStreamReaderImpl : public ProcessStreamReader, public KorrRunnable
{
public:
    // Largest chunk one read delivers.
    static const std::size_t BUFFER_SIZE = 65535;

    // Reads `handle` (a pipe, not owned).
    ProcessStreamReaderImpl(void* handle, ProcessStreamReaderListener& listener);
    ~ProcessStreamReaderImpl() override;

    // Returns 0 at end of data, after a failed read, or when asked to stop or finish.
    long run() override;
    // Ends run() before its next read; safe from any thread, also before run() starts.
    void requestStop() override;
    // Delivers what the pipe already holds, then ends run() without waiting for end of
    // data (a process that inherited the pipe may keep it open indefinitely).
    void requestFinish();

private:
    enum Mode { READING, FINISHING, STOPPING };
    void wake(Mode next);
    // Under the lock: READING and not asked otherwise, so the next read may block.
    bool beginBlockingRead();

    void* pipe;
    std::mutex lock;         // guards mode, reader and blocking
    Mode mode;
    void* reader;            // the thread in run(), for CancelSynchronousIo; null outside run()
    bool blocking;           // the reader is in (or about to enter) a read that may block
};

#endif
