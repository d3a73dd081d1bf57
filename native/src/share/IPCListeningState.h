// What an IPC listening loop and the thread that started it share: whether the loop runs, has
// been asked to shut down or has ended, and why it failed. Every call takes one monitor.
#ifndef OSTARA_IPCLISTENINGSTATE_H
#define OSTARA_IPCLISTENINGSTATE_H

#include <string>

class KorrThreadSync;

class IPCListeningState
{
public:
    IPCListeningState();
    ~IPCListeningState();

    bool isRunning() const;
    // Wakes waitRunning().
    void setRunning(bool value);
    bool isShutdownRequested() const;
    void setShutdownRequested(bool value);
    // The loop is over; a non-empty message says why it failed. Wakes waitRunning().
    void setEnded(const std::string& message);
    bool hasEnded() const;
    // A failure found before the loop started.
    void setErrorMessage(const std::string& message);
    std::string getErrorMessage() const;
    // Waits at most timeout ms until the loop runs or has ended; true when it runs.
    bool waitRunning(long timeout) const;

private:
    IPCListeningState(const IPCListeningState&);
    IPCListeningState& operator=(const IPCListeningState&);

    KorrThreadSync* monitor;
    bool running;
    bool shutdownRequested;
    bool ended;
    std::string errorMessage;
};

#endif
