// The POSIX child process. Pipes are made close-on-exec; posix_spawnp starts the program
// found like execvp, with its arguments unchanged, in the working directory (a relative
// program path therefore names a file there), in a process group of its own, with default
// signal dispositions, an empty signal mask and no descriptor but its three standard streams.
// An unrunnable program fails start() at once. The get*Stream handles are file descriptors.
// Exit codes: the child's own, 128+N after signal N, 0 after stop().
// stop() may come from another thread while the owner waits: signalling and reaping are
// serialised by childLock. The group is signalled only while the child is not yet reaped,
// so its id cannot have been recycled.
#ifndef OSTARA_KORRPROCESSIMPL_H
#define OSTARA_KORRPROCESSIMPL_H

#include <chrono>
#include <string>
#include <vector>

#include "KorrProcess.h"
#include "KorrThreadSyncImpl.h"

class KorrThreadImpl;
class ProcessStreamReaderImpl;

class KorrProcessImpl : public KorrProcess
{
public:
    KorrProcessImpl(int argc, char** argv);
    KorrProcessImpl(int argc, char** argv, const std::string& workingDirectory);
    // Stops the reader thread and closes every descriptor; a child still running is left
    // to run (its input then reads end of data).
    ~KorrProcessImpl() override;

    void start() override;
    // Sends the child's group SIGTERM, gives the child the grace period to end, then sends
    // the group SIGKILL; waits until the child has ended and has the readers deliver what the
    // pipes already hold and end.
    void stop() override;
    // Returns once the child has ended: its reader gets DRAIN_MS to reach end of data, then
    // delivers what the pipes hold and ends, so a descendant that keeps them open cannot hide
    // the child's end.
    int waitForProcess() override;
    int getExitCode() override;
    void* getInputStream() override;
    void* getOutputStream() override;
    void* getErrorStream() override;
    void registerOutputStreamListener(ProcessStreamReaderListener& listener) override;
    void registerErrorStreamListener(ProcessStreamReaderListener& listener) override;
    uint32_t getProcessId() override;

    static uint32_t getCurrentProcessId();

    static constexpr long STOP_GRACE_MS = 5000;
    static constexpr long DRAIN_MS = 1000;
    // How long stop() waits between SIGTERM and SIGKILL.
    void setStopGracePeriod(long milliseconds);

private:
    void createPipe(int& readEnd, int& writeEnd, const char* createKey, const char* adjustKey);
    void closeDescriptors();
    void registerListener(ProcessStreamReaderListener*& slot, ProcessStreamReaderListener& listener, int descriptor);
    void stopReader();
    void awaitEnd();
    bool reapIfEnded(int& code);
    bool awaitEnd(long milliseconds);
    void drainReader(std::chrono::steady_clock::time_point deadline);

    std::string program;                  // argv[0], unchanged
    std::string arguments;                // argv[1..] joined by blanks, for messages
    std::string workingDirectory;         // empty: this process's current directory
    std::vector<std::string> argumentVector;
    int pid;
    int pidfd;                            // -1 when the kernel has none: waits then use pid
    int stdinRead, stdinWrite;
    int stdoutRead, stdoutWrite;
    int stderrRead, stderrWrite;
    // One thread drains both pipes: a start costs one thread, not one per stream.
    ProcessStreamReaderImpl* reader;
    KorrThreadImpl* readerThread;
    ProcessStreamReaderListener* outputListener;
    ProcessStreamReaderListener* errorListener;
    KorrThreadSyncImpl childLock;         // guards started, reaped, stopped, exitCode
    bool started;
    bool reaped;
    bool stopped;
    int exitCode;
    long stopGrace;
};

#endif
