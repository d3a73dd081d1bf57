// One supervised child process whose standard streams are pipes to this process; what the
// child writes on output and error reaches each stream's listener on a reader thread, never on
// the caller's.
#ifndef OSTARA_KORRPROCESS_H
#define OSTARA_KORRPROCESS_H

#include <cstdint>
#include <string>

class ProcessStreamReaderListener;

class KorrProcess
{
public:
    // The exit code while the child runs.
    static constexpr int STILL_ACTIVE = 259;

    // argv[0] is the program, argv[1..argc-1] its arguments; an empty working directory
    // means this process's current one. The arrays are read only here. The caller owns
    // the result.
    static KorrProcess* newInstance(int argc, char** argv, const std::string& workingDirectory = std::string());
    static uint32_t getCurrentProcessId();

    KorrProcess() {}
    virtual ~KorrProcess() {}

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual int waitForProcess() = 0;
    virtual int getExitCode() = 0;
    // The parent's ends of the child's input, output and error; the caller does not close them.
    virtual void* getInputStream() = 0;
    virtual void* getOutputStream() = 0;
    virtual void* getErrorStream() = 0;
    virtual void registerOutputStreamListener(ProcessStreamReaderListener& listener) = 0;
    virtual void registerErrorStreamListener(ProcessStreamReaderListener& listener) = 0;
    virtual uint32_t getProcessId() = 0;

private:
    KorrProcess(const KorrProcess&);
    KorrProcess& operator=(const KorrProcess&);
};

#endif
