// The Win32 child process: CreateProcess with anonymous pipes as its standard streams. Only
// the child's three pipe ends are inherited (an explicit handle list; the ends are
// inheritable only while a start is under way). The program gets ".exe" appended unless it
// ends so; each argument is quoted so that the child's CommandLineToArgvW gives it back.
// The child runs in a job object of its own, which stop() terminates: the child and every
// process it started end at once, and its exit code reads 0 (a thread of the child that ends
// at the same moment cannot lend the process its own code). stop() may come from another thread while the owner waits;
// the process handle is closed only by the destructor, so no wait can outlive it.
#ifndef OSTARA_KORRPROCESSIMPL_H
#define OSTARA_KORRPROCESSIMPL_H

#include <atomic>
#include <cstdint>
#include <string>

#include "KorrProcess.h"

class KorrThreadImpl;
class ProcessStreamReaderImpl;

class KorrProcessImpl : public KorrProcess
{
public:
    KorrProcessImpl(int argc, char** argv);
    KorrProcessImpl(int argc, char** argv, const std::string& workingDirectory);
    // Stops the reader threads and closes every handle; a child still running is left to
    // run (its input then reads end of data).
    ~KorrProcessImpl() override;

    void start() override;
    // Terminates the child with exit code 0, waits until it has ended, and has the readers
    // deliver what the pipes already hold and end, so that waitForProcess() cannot hang on
    // a pipe that a grandchild keeps open.
    void stop() override;
    int waitForProcess() override;
    int getExitCode() override;
    void* getInputStream() override;
    void* getOutputStream() override;
    void* getErrorStream() override;
    void registerOutputStreamListener(ProcessStreamReaderListener& listener) override;
    void registerErrorStreamListener(ProcessStreamReaderListener& listener) override;
    uint32_t getProcessId() override;

    static uint32_t getCurrentProcessId();
    // One argument as it goes on the command line. With the prefix flag, text up to a first
    // ":" stays outside the quotes when it holds no blank or quote (a drive letter, say).
    static std::string escape(const std::string& argument, bool prefix);

private:
    KorrProcessImpl(const KorrProcessImpl&);
    KorrProcessImpl& operator=(const KorrProcessImpl&);

    void createPipe(void*& readEnd, void*& writeEnd, const char* createKey);
    void closeHandles();
    void replaceReader(ProcessStreamReaderImpl*& reader, KorrThreadImpl*& thread, void* handle,
                       ProcessStreamReaderListener& listener, const char* text);
    void stopReader(ProcessStreamReaderImpl*& reader, KorrThreadImpl*& thread);

    std::string program;            // argv[0], unchanged
    std::string arguments;          // argv[1..], each escaped, joined by blanks
    std::string workingDirectory;   // empty: this process's current directory
    void* processHandle;            // null until start(); closed by the destructor
    void* threadHandle;
    void* job;                      // the child's job; null when it could not have one
    std::atomic<bool> terminated;   // stop() ended the child: its exit code reads 0
    uint32_t processId;
    void* stdinRead;                // the child's input: it reads stdinRead
    void* stdinWrite;
    void* stdoutRead;               // the child's output: it writes stdoutWrite
    void* stdoutWrite;
    void* stderrRead;
    void* stderrWrite;
    ProcessStreamReaderImpl* outputReader;
    ProcessStreamReaderImpl* errorReader;
    KorrThreadImpl* outputReaderThread;
    KorrThreadImpl* errorReaderThread;
};

#endif
