// Supervises one application process (in practice a JVM running the agent or logger): reads
// its options and properties, sets up diagnostics, the lock file and the client listener,
// then starts the child, waits for the queue manager, and restarts the child within a budget.
// Lock order: the controller's monitor before the client listener's and the connection
// monitor's; neither of those is ever held while the controller's monitor is taken.
#ifndef OSTARAPC_PROCESSCONTROLLER_H
#define OSTARAPC_PROCESSCONTROLLER_H

#include <atomic>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "KorrRunnable.h"
#include "NativeProperties.h"
#include "ProcessControllerState.h"
#include "ProcessSignalActionHandler.h"
#include "RasDescriptor.h"

class ClientListener;
class FileLock;
class KorrProcess;
class ProcessControllerObserver;
class ProcessStreamReaderListener;
class KorrThreadSync;
class OutputLogFile;
class TarnConnectionMonitor;

class ProcessController : public KorrRunnable, private ProcessSignalActionHandler
{
public:
    // How long stop() gives the application to answer its stop request and go before the
    // child is ended by force.
    static constexpr long STOP_LIMIT_MS = 30000;

    // argv is borrowed: it must outlive the controller.
    ProcessController(int argc, char** argv);
    ~ProcessController() override;

    // 0 on success, else the exit code (70 called twice, 78 configuration, among them a bad
    // value in the properties file, 1 second instance).
    int initialize();
    // The supervision loop; returns the controller's exit code.
    long run() override;
    // Asks the application to stop, forcing it when it does not; with wait, returns once
    // run() has ended.
    void stop(bool wait);
    void forceStop(bool wait);
    bool isRunning() const;
    // Releases what initialize() set up; returns the exit code (70 while run() is active).
    int shutdown();

    ProcessControllerState requestState(const ProcessControllerState& target);
    // Ends a wait for the queue manager or a restart delay early.
    void wakeup();
    ProcessControllerState getState() const;
    NativeProperties getProperties() const;
    std::string getTraceSpecification() const;
    void setTraceSpecification(const std::string& specification);
    NativeProperties getStatusProperties() const;

    // Configuration as initialize() settled it.
    int getOptionCount() const { return optionCount; }
    std::string getAppId() const { return appId; }
    std::string getAppIPCServiceName() const { return appIPCServiceName; }
    std::string getWorkingDirectory() const { return workingDirectory; }
    std::string getLogDirectory() const { return logDirectory; }
    std::string getLockFileName() const { return lockFileName; }
    // The argument vector of the next child start, program first.
    std::vector<std::string> getChildArguments() const;
    // Shortens STOP_LIMIT_MS, for tests of applications that never answer.
    void setStopLimit(long milliseconds);
    long getStopLimit() const;
    // Told of each state change in words (the service host's status line); set before run().
    void setObserver(ProcessControllerObserver* observer);
    // The application's output then goes to stdout.log and stderr.log there, rotated by
    // size, with this process's standard output and error kept on the current files.
    // Without it the output goes to this process's standard output and error as they are.
    void setOutputLogDirectory(const std::string& directory);

    friend std::ostream& operator<<(std::ostream& out, const ProcessController& controller);
    friend class ProcessControllerTestAccess;

private:
    ProcessController(const ProcessController&);
    ProcessController& operator=(const ProcessController&);

    // Signal actions, called on the signal dispatcher thread; they never wait for the child.
    void shutdownAction(int code) override;
    void outputDiagnosticsAction() override;

    void waitStopComplete();
    bool waitStopComplete(long milliseconds);
    int getMaxRestartCount() const;
    int getMaxRestartInterval() const;
    int getMaxRestartDelay() const;
    long getExitCode() const;
    long setExitCode(long code);
    bool isJava(const std::string& program) const;
    std::string getJavaHome(const std::string& program) const;
    int parseIntArgumentValue(const std::string& name, const std::string& value, int min, int max) const;

    void releaseAfterFailedStart();
    void refuseStart(const std::string& text);
    void prepareJavaChild();
    void setState(const ProcessControllerState& target);
    void tell(const std::string& description) const;
    void superviseLoop(ProcessStreamReaderListener& output, ProcessStreamReaderListener& error);
    OutputLogFile* openOutputLog(const std::string& name, int descriptor);

    RasDescriptor rasDescriptor;
    ProcessControllerState state;
    int argc;
    char** argv;
    int optionCount;
    std::string appId;
    std::string appIPCServiceName;
    std::string pid;
    bool initialized;
    bool running;
    std::string workingDirectory;
    std::string logDirectory;
    ClientListener* clientListener;
    std::string lockFileName;
    FileLock* fileLock;
    std::atomic<int> lastApplicationExitCode;
    long exitCode;
    KorrThreadSync* monitor;
    KorrProcess* process;
    std::atomic<TarnConnectionMonitor*> connectionMonitor;
    NativeProperties properties;
    std::atomic<int> totalApplicationRestartCount;
    std::atomic<int> currentApplicationRestartCount;
    std::string productRoot;
    std::string traceSpecification;
    std::string outputLogDirectory;

    std::atomic<int> stateValue;      // copy of state for the status report, which takes no lock
    bool stopRequested;               // a stop came: no further child is started
    bool signalsHandled;
    long stopLimit;
    std::vector<std::unique_ptr<TarnConnectionMonitor>> retiredMonitors;
    ProcessControllerObserver* observer = nullptr;
};

std::ostream& operator<<(std::ostream& out, const ProcessController& controller);

#endif
