#include "ProcessController.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <sstream>
#include <thread>

#include "ClientListener.h"
#include "ControllerCommandLine.h"
#include "EventLog.h"
#include "FFDC.h"
#include "FileLock.h"
#include "IPCClient.h"
#include "IPCMessage.h"
#include "IPCMessageType.h"
#include "KorrEnvironment.h"
#include "KorrException.h"
#include "KorrIOException.h"
#include "KorrProcess.h"
#include "KorrProcessImpl.h"
#include "KorrPropConstant.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "LogFileProperties.h"
#include "NLS.h"
#include "ProcessControllerObserver.h"
#include "OutputLogFile.h"
#include "ProcessListener.h"
#include "RAS.h"
#include "ResourceBundle.h"
#include "RestartBudget.h"
#include "Synchronize.h"
#include "TarnConnectionMonitor.h"
#include "Trace.h"

namespace {

const char* const MESSAGES = "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages";
const char* const ELEMENTS = "com.quillon.velbrix.nativ.processcontroller.ZRKPCElements";
const char* const TRACE_OPTION = ControllerCommandLine::TRACE_OPTION;
const char* const LOCK_FILE = "ostarapc.lck";
const long long MEGABYTE = 1048576;

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

long long now() { return static_cast<long long>(std::time(nullptr)); }

// The process id a controller recorded beside its lock file; "unknown" when there is none.
std::string recordedPid(const std::string& lockFileName)
{
    std::string pidFile = lockFileName.substr(0, lockFileName.size() - 4) + ".pid";
    std::string content;
    std::string text;
    if (KorrUtils::readFile(pidFile, content)) {   // a FIFO planted there is not waited on
        std::istringstream(content) >> text;
    }
    // It goes into the event log: anything but a process id is not taken from the file.
    bool digits = !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
    return digits ? text : std::string("unknown");
}

// True when something still answers on the application's pipe. Only a pipe nobody serves
// (missing, or left by a dead process) counts as free; any other failure to reach it counts
// as served, so that in doubt no second copy of the application is started.
bool pipeServed(const std::string& serviceName)
{
    std::unique_ptr<IPCClient> client(IPCClient::newInstance(serviceName));
    try {
        if (!client->connectIfServed()) {
            return false;
        }
    } catch (const KorrException&) {
        return true;
    }
    client->disconnect();
    return true;
}

// Sends the application behind serviceName an immediate stop and waits, at most `limit`
// milliseconds in all, for its pipe to go. True once nothing serves it any more.
bool stopLeftOverApplication(const std::string& serviceName, long limit)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    try {
        std::unique_ptr<IPCClient> client(IPCClient::newInstance(serviceName));
        client->connect();
        client->sendMessage(IPCMessage(1, "STOPI"), 30, limit);
        client->disconnect();
    } catch (const KorrException&) {
        // No answer, or the connection closed as it went: whether it has gone decides.
    }
    for (;;) {
        if (!pipeServed(serviceName)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// Megabytes from the properties in bytes; sizes past what a file limit holds are capped.
int bytes(int megabytes)
{
    long long b = static_cast<long long>(megabytes) * MEGABYTE;
    return b > INT_MAX ? INT_MAX : static_cast<int>(b);
}

} // namespace

ProcessController::ProcessController(int c, char** v)
    : state(ProcessControllerState::STOPPED), argc(v ? (c < 0 ? 0 : c) : 0), argv(v), optionCount(0),
      initialized(false), running(false), clientListener(nullptr), fileLock(nullptr), lastApplicationExitCode(78),
      exitCode(1), monitor(new KorrThreadSyncImpl()), process(nullptr), connectionMonitor(nullptr),
      totalApplicationRestartCount(0), currentApplicationRestartCount(0), stateValue(ProcessControllerState::STOPPED),
      stopRequested(false), signalsHandled(false), stopLimit(STOP_LIMIT_MS)
{
    if (!KorrUtils::getenv("VELBRIX_PC_DEBUG").empty()) {
        RAS::setDebugLevel(TraceLevel::VERBOSE);
    }
    optionCount = ControllerCommandLine(argc, argv).getOptionCount();
    if (optionCount < argc && argv[optionCount]) {
        appId = argv[optionCount];
    }
    pid = std::to_string(KorrProcess::getCurrentProcessId());
    if (rasDescriptor.isFlowOn()) {
        std::string count = std::to_string(argc);
        Trace::traceMethodEntry(rasDescriptor, this, "ProcessController", 1, count.c_str());
        Trace::exit(rasDescriptor, "ProcessController");
    }
}

ProcessController::~ProcessController()
{
    if (rasDescriptor.isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rasDescriptor, TraceLevel::MODERATE, this, "~ProcessController", 1, "~ProcessController");
    }
    if (isRunning()) {
        stop(true);
    }
    shutdown();
    KorrPropConstant::deleteInstance();
    delete monitor;
}

int ProcessController::initialize()
{
    if (rasDescriptor.isFlowOn()) {
        Trace::traceMethodEntry(rasDescriptor, this, "initialize", 0);
    }
    {
        Synchronize hold(monitor);
        exitCode = 0;
    }
    if (initialized) {
        KorrException e("Already initialised");
        FFDC::capture(rasDescriptor, this, "initialize", FFDC::PROBE_001(), &e);
        return static_cast<int>(setExitCode(70));
    }
    if (argc < optionCount + 1) {
        std::cerr << NLS::format(MESSAGES, "ZRKPC0001_INSUFFICENT_ARGS") << std::endl;
        return static_cast<int>(setExitCode(78));
    }

    ControllerCommandLine commandLine(argc, argv);
    commandLine.scan();
    if (!commandLine.getTraceSpecification().empty()) {
        traceSpecification = commandLine.getTraceSpecification();
    }
    if (commandLine.isAppIdGiven()) {
        appId = commandLine.getAppId();
    }
    productRoot = commandLine.getProductRoot();
    // Without -appId= the program names the controller's pipe, which a path cannot.
    if (!commandLine.isAppIdGiven() && appId.find('/') != std::string::npos) {
        std::cerr << NLS::format(MESSAGES, "ZRKPC0070_NO_APPLICATION_ID", appId) << std::endl;
        return static_cast<int>(setExitCode(78));
    }
    bool foreground = commandLine.isForeground();
    bool directoryGiven = commandLine.isDirectoryGiven();
    try {
        if (!commandLine.getPropertiesPath().empty()) {
            properties.loadProperties(commandLine.getPropertiesPath());
        }
    } catch (const KorrException& e) {
        std::cerr << e.getMessage() << std::endl;
        return static_cast<int>(setExitCode(78));
    }

    // A bad value is the operator's to fix: a configuration error, with the item, its value and
    // its range in the message. The restart and retry items are checked now, not first when
    // they are used.
    const KorrPropConstant& keys = KorrPropConstant::getInstance();
    int outputLogFiles = 0, outputLogSize = 0, traceFiles = 0, traceSize = 0;
    try {
        outputLogFiles = properties.getPropertyAsInteger(keys.outputLogFiles);
        outputLogSize = properties.getPropertyAsInteger(keys.outputLogSize);
        traceFiles = properties.getPropertyAsInteger(keys.traceFiles);
        traceSize = properties.getPropertyAsInteger(keys.traceSize);
        getMaxRestartCount();
        getMaxRestartInterval();
        getMaxRestartDelay();
        properties.getPropertyAsInteger(keys.agentQMgrRetryInterval);
        properties.getPropertyAsInteger(keys.loggerQMgrRetryInterval);
        if (traceSpecification.empty()) {
            std::string fromFile = properties.getPropertyAsString(keys.trace);
            if (!fromFile.empty()) {
                setTraceSpecification(fromFile);
            }
        }
    } catch (const KorrException& e) {
        std::cerr << e.getMessage() << std::endl;
        return static_cast<int>(setExitCode(78));
    }

    workingDirectory = directoryGiven ? commandLine.getDirectory() : KorrUtils::getCwd();
    // A directory given with "/" where the system separates with another character also
    // already ends in the logs level.
    std::string logsLevel = KorrUtils::separator() + "logs";
    logDirectory = workingDirectory;
    if (!endsWith(workingDirectory, logsLevel) && !endsWith(workingDirectory, "/logs")) {
        logDirectory += logsLevel;
    }
    KorrEnvironment::setProperty("com.quillon.velbrix.native.logdir", logDirectory);

    std::string applicationName = commandLine.getProgram();
    std::string applicationArgs = commandLine.applicationArguments();
    std::string programArgs = commandLine.allArguments();
    LogFileProperties eventLog(logDirectory + "/" + "pcevent%g.log", bytes(outputLogSize), outputLogFiles, true, true);
    eventLog.addApplicationProperty("applicationIdentifier", appId);
    eventLog.addApplicationProperty("applicationName", applicationName);
    eventLog.addApplicationProperty("applicationCommandLineArgs", applicationArgs);
    LogFileProperties traceLog(logDirectory + "/" + "pctrace" + pid + "/" + "pctrace" + pid + ".txt.%g",
                               bytes(traceSize), traceFiles, false, false);
    traceLog.addApplicationProperty("programName", commandLine.word(0));
    traceLog.addApplicationProperty("programCommandLineArgs", programArgs);

    if (KorrUtils::mkdirs(logDirectory, true) != 0) {
        std::cerr << NLS::format(MESSAGES, "ZRKPC0009_MKDIR_FAILED", logDirectory) << std::endl;
        return static_cast<int>(setExitCode(78));
    }

    RAS::initialize(foreground ? RASEnvironment::DAEMON_FOREGROUND : RASEnvironment::DAEMON, eventLog, traceLog,
                    "com.quillon.velbrix.native");
    rasDescriptor = RasDescriptor("ProcessController", MESSAGES);
    EventLog::infoNoFormat(rasDescriptor, ResourceBundle::getBundle(ELEMENTS).getString("ZRKPC_COPYRIGHT"));
    std::string specification = getTraceSpecification();
    if (!specification.empty()) {
        RAS::setLevel(specification.substr(std::string(TRACE_OPTION).size()));
    }
    if (!directoryGiven) {
        EventLog::warningNoFormat(rasDescriptor, NLS::format(rasDescriptor, "ZRKPC0002_DIR_NOT_DEFINED", "-directory="));
    }

    lockFileName = workingDirectory + "/" + LOCK_FILE;
    std::string previousPid = recordedPid(lockFileName);   // the lock rewrites it
    try {
        fileLock = FileLock::newInstance(lockFileName, false, true);
    } catch (const KorrIOException& e) {
        if (rasDescriptor.isOn(TraceLevel::MODERATE)) {
            std::string text = e.toString();
            Trace::traceMethodData(rasDescriptor, TraceLevel::MODERATE, this, "initialize", 1, text.c_str());
        }
        refuseStart(NLS::format(rasDescriptor, "ZRKPC0053_SECOND_INSTANCE", e.getMessage()));
        releaseAfterFailedStart();
        return static_cast<int>(setExitCode(1));
    }

    appIPCServiceName = "PC" + appId;
    try {
        clientListener = new ClientListener(*this, appId, appIPCServiceName);
    } catch (const KorrException& e) {
        refuseStart(e.getMessage());
        clientListener = nullptr;
        releaseAfterFailedStart();
        return static_cast<int>(setExitCode(78));
    }
    // A controller killed while it supervised leaves its lock free but its application
    // running, still serving its pipe: it is asked to stop at once, and a second copy beside
    // it is started only once it has gone.
    bool served = pipeServed(appIPCServiceName);
    bool recovered = served && stopLeftOverApplication(appIPCServiceName, getStopLimit());
    if (served && !recovered) {
        refuseStart(NLS::format(rasDescriptor, "ZRKPC0063_APPLICATION_LEFT_RUNNING", appIPCServiceName, previousPid));
        clientListener->shutdown();
        delete clientListener;
        clientListener = nullptr;
        releaseAfterFailedStart();
        return static_cast<int>(setExitCode(1));
    }

    if (recovered) {
        EventLog::infoNoFormat(rasDescriptor, NLS::format(rasDescriptor, "ZRKPC0081_APPLICATION_RECOVERED",
                                                          appIPCServiceName, previousPid));
    }
    totalApplicationRestartCount = 0;
    currentApplicationRestartCount = 0;
    if (!foreground) {
        KorrUtils::newProcessSession();
    }
    KorrUtils::handleSignals(this);
    signalsHandled = true;
    EventLog::infoNoFormat(rasDescriptor,
                           NLS::format(rasDescriptor, "ZRKPC0003_PROCESS_CONTROLLER_STARTED", workingDirectory));
    {
        Synchronize hold(monitor);
        initialized = true;
        stopRequested = false;
    }
    int result = static_cast<int>(setExitCode(0));
    if (rasDescriptor.isFlowOn()) {
        std::string text = std::to_string(result);
        Trace::traceMethodExit(rasDescriptor, this, "initialize", &text, "int");
    }
    return result;
}

// Why the start is refused, in the event log and on standard error: under the service that
// is stderr.log, whose last line the service hands to whoever started it.
void ProcessController::refuseStart(const std::string& text)
{
    EventLog::errorNoFormat(rasDescriptor, text);
    std::cerr << text << std::endl;
}

// A start that failed after the diagnostics were set up leaves nothing behind: the lock file
// (when it was ours), the pipe and the open log files go again.
void ProcessController::releaseAfterFailedStart()
{
    if (fileLock) {
        fileLock->removeLockFile();
        delete fileLock;
        fileLock = nullptr;
    }
    RAS::shutdown();
    rasDescriptor = RasDescriptor();
}

int ProcessController::getMaxRestartCount() const
{
    return properties.getPropertyAsInteger(KorrPropConstant::getInstance().maxRestartCount);
}

int ProcessController::getMaxRestartInterval() const
{
    return properties.getPropertyAsInteger(KorrPropConstant::getInstance().maxRestartInterval);
}

int ProcessController::getMaxRestartDelay() const
{
    return properties.getPropertyAsInteger(KorrPropConstant::getInstance().maxRestartDelay);
}

long ProcessController::getExitCode() const
{
    Synchronize hold(monitor);
    return exitCode;
}

long ProcessController::setExitCode(long code)
{
    Synchronize hold(monitor);
    if (exitCode == 0) {
        exitCode = code;
    }
    return exitCode;
}

ProcessControllerState ProcessController::getState() const
{
    Synchronize hold(monitor);
    return state;
}

// The properties change only on the controller thread while no child runs; the client
// listener copies them only while one does, so no lock is needed (and none may be taken:
// the listener calls this holding its own monitor).
NativeProperties ProcessController::getProperties() const { return properties; }

std::string ProcessController::getTraceSpecification() const
{
    Synchronize hold(monitor);
    return traceSpecification;
}

void ProcessController::setTraceSpecification(const std::string& specification)
{
    Synchronize hold(monitor);
    traceSpecification = TRACE_OPTION + specification;
}

bool ProcessController::isJava(const std::string& program) const { return ControllerCommandLine::isJava(program); }

std::string ProcessController::getJavaHome(const std::string& program) const
{
    return ControllerCommandLine::getJavaHome(program);
}

int ProcessController::parseIntArgumentValue(const std::string& name, const std::string& value, int min,
                                             int max) const
{
    int v = 0;
    if (std::sscanf(value.c_str(), "%d", &v) != 1) {
        throw KorrException(NLS::format(MESSAGES, "ZRKPC0006_NOT_A_NUMBER", name));
    }
    if (v < min || v > max) {
        throw KorrException(NLS::format(MESSAGES, "ZRKPC0005_OUT_OF_RANGE", name, std::to_string(min), std::to_string(max)));
    }
    return v;
}

std::vector<std::string> ProcessController::getChildArguments() const
{
    std::vector<std::string> extra;
    ControllerCommandLine commandLine(argc, argv);
    if (commandLine.hasProgram() && isJava(commandLine.getProgram())) {
        extra.push_back("-Dcom.quillon.velbrix.native.pc.processid=" + pid);
        extra.push_back("-Dcom.quillon.velbrix.ipc.service.name=" + appIPCServiceName);
        extra.push_back("-Dcom.quillon.velbrix.native.pc.lockFileName=" + lockFileName);
    }
    return commandLine.childArguments(getTraceSpecification(), extra);
}

void ProcessController::setOutputLogDirectory(const std::string& directory)
{
    Synchronize hold(monitor);
    outputLogDirectory = directory;
}

// The file an output stream of the application goes to; the descriptor itself when there is
// no directory or the file cannot be opened (said in the event log).
OutputLogFile* ProcessController::openOutputLog(const std::string& name, int descriptor)
{
    std::string directory;
    {
        Synchronize hold(monitor);
        directory = outputLogDirectory;
    }
    if (!directory.empty()) {
        std::string path = directory + KorrUtils::separator() + name;
        try {
            const KorrPropConstant& keys = KorrPropConstant::getInstance();
            long long megabytes = properties.getPropertyAsInteger(keys.applicationOutputLogSize);
            int files = properties.getPropertyAsInteger(keys.applicationOutputLogFiles);
            return new OutputLogFile(path, megabytes * MEGABYTE, files, descriptor);
        } catch (const KorrException& e) {
            EventLog::errorNoFormat(rasDescriptor,
                                    NLS::format(rasDescriptor, "ZRKPC0082_OUTPUT_FILE_UNUSABLE", path, e.getMessage()));
        }
    }
    return new OutputLogFile(descriptor);
}

long ProcessController::getStopLimit() const
{
    Synchronize hold(monitor);
    return stopLimit;
}

void ProcessController::setStopLimit(long milliseconds)
{
    Synchronize hold(monitor);
    stopLimit = milliseconds;
}

ProcessControllerState ProcessController::requestState(const ProcessControllerState& target)
{
    Synchronize hold(monitor);
    if (state.isValidTransition(target)) {
        setState(target);
    }
    return state;
}

void ProcessController::setObserver(ProcessControllerObserver* o)
{
    Synchronize hold(monitor);
    observer = o;
}

void ProcessController::tell(const std::string& description) const
{
    if (observer) {
        observer->stateChanged(description);
    }
}

// Called with the monitor held. The running, restarting and delaying states are told where the
// child starts and where its end is decided, which know the details.
void ProcessController::setState(const ProcessControllerState& target)
{
    bool changed = state != target;
    state = target;
    stateValue = target.toInt();
    if (!changed) {
        return;
    }
    switch (target.toInt()) {
    case ProcessControllerState::WAITING: tell("waiting for queue manager"); break;
    case ProcessControllerState::ISTOPPING:
    case ProcessControllerState::CSTOPPING: tell("stopping"); break;
    case ProcessControllerState::STOPPED:
        tell("stopped (exit code " + std::to_string(exitCode != 0 ? exitCode : lastApplicationExitCode.load()) + ")");
        break;
    default: break;
    }
}

void ProcessController::wakeup()
{
    Synchronize hold(monitor);
    if (state == ProcessControllerState::WAITING) {
        TarnConnectionMonitor* cm = connectionMonitor;
        if (cm) {
            cm->wakeup();
        }
    } else if (state == ProcessControllerState::RECOVERING) {
        monitor->notifyAll();
    }
}

// Sets JAVA_HOME (unless set) and the product's bin directory on PATH for a Java child.
void ProcessController::prepareJavaChild()
{
    std::string program = argv[optionCount];
    if (!isJava(program)) {
        return;
    }
    if (KorrUtils::getenv("JAVA_HOME").empty()) {
        KorrUtils::setenv("JAVA_HOME", getJavaHome(program));
    }
    KorrUtils::addBinDirToPath(productRoot);
}

long ProcessController::run()
{
    if (rasDescriptor.isFlowOn()) {
        Trace::traceMethodEntry(rasDescriptor, this, "run", 0);
    }
    {
        Synchronize hold(monitor);
        if (!initialized) {
            KorrException e("Not initialised");
            FFDC::capture(rasDescriptor, this, "run", FFDC::PROBE_002(), &e);
            exitCode = exitCode == 0 ? 70 : exitCode;
            return exitCode;
        }
        if (running) {
            KorrException e("Already running");
            FFDC::capture(rasDescriptor, this, "run", FFDC::PROBE_003(), &e);
            exitCode = exitCode == 0 ? 70 : exitCode;
            return exitCode;
        }
        running = true;
    }
    std::string ffdcTest = KorrUtils::getenv("VELBRIX_PC_FFDC_TEST");
    if (!ffdcTest.empty()) {
        KorrException e("This is an FFDC test exception");
        FFDC::capture(rasDescriptor, this, "run", FFDC::PROBE_004(), &e, 2, logDirectory.c_str(), ffdcTest.c_str());
    }

    bool prepared = true;
    try {
        prepareJavaChild();
    } catch (const KorrException& e) {
        EventLog::errorNoFormat(rasDescriptor, e.getMessage());
        setExitCode(78);
        prepared = false;
    }
    long result = 0;
    {
        // The listeners outlive every child that writes to them.
        std::cout.flush();
        std::unique_ptr<OutputLogFile> outputFile(openOutputLog("stdout.log", 1));
        std::unique_ptr<OutputLogFile> errorFile(openOutputLog("stderr.log", 2));
        ProcessListener output(*outputFile);
        ProcessListener error(*errorFile);
        if (prepared) {
            try {
                superviseLoop(output, error);
            } catch (const KorrException& e) {
                std::string message = e.getMessage();
                bool known = message.find("ZRKNV0151") != std::string::npos ||
                             message.find("ZRKNV0161") != std::string::npos;
                // A child that cannot be started, or a properties file that has gone between two
                // starts, is the operator's to fix: say why in the log.
                if (known || message.find("ZRKNV0007") != std::string::npos ||
                    message.find("ZRKNV0122") != std::string::npos) {
                    EventLog::errorNoFormat(rasDescriptor, message);
                }
                if (!known) {
                    FFDC::capture(rasDescriptor, this, "run", FFDC::PROBE_005(), &e);
                }
                setExitCode(70);
            } catch (const std::exception& e) {
                // Whatever went wrong, supervision ends below as usual: running is cleared.
                KorrException unexpected(std::string("Unexpected exception: ") + e.what());
                FFDC::capture(rasDescriptor, this, "run", FFDC::PROBE_005(), &unexpected);
                setExitCode(70);
            }
            {
                Synchronize hold(monitor);
                if (exitCode == 0) {
                    exitCode = lastApplicationExitCode;
                }
            }
        }
        result = getExitCode();
        TarnConnectionMonitor* cm = connectionMonitor;
        if (cm) {
            try {
                cm->stop();
            } catch (const KorrException&) {
                if (rasDescriptor.isOn(TraceLevel::MODERATE)) {
                    Trace::traceMethodData(rasDescriptor, TraceLevel::MODERATE, this, "run", 1,
                                           "Failed to stop connectionMonitor");
                }
            }
        }
        if (rasDescriptor.isFlowOn()) {
            std::string text = std::to_string(result);
            Trace::traceMethodExit(rasDescriptor, this, "run", &text, "long");
        }
        // Past this block the controller may be taken apart: touch nothing of it after.
        Synchronize hold(monitor);
        requestState(ProcessControllerState::STOPPED);
        delete process;
        process = nullptr;
        running = false;
        stopRequested = false;
        monitor->notifyAll();
    }
    return result;
}

// Each pass: wait for the queue manager, start the child, wait for its end, decide.
void ProcessController::superviseLoop(ProcessStreamReaderListener& output, ProcessStreamReaderListener& error)
{
    {
        Synchronize hold(monitor);
        TarnConnectionMonitor* previous = connectionMonitor;
        if (previous) {
            retiredMonitors.emplace_back(previous);   // a status request may still be reading it
        }
        connectionMonitor = new TarnConnectionMonitor(properties, productRoot);
        connectionMonitor.load()->setObserver(observer);
    }
    RestartBudget budget(now());
    currentApplicationRestartCount = 0;
    bool firstStart = true;

    for (;;) {
        int maxCount = getMaxRestartCount();
        int maxInterval = getMaxRestartInterval();
        int maxDelay = getMaxRestartDelay();

        if (requestState(ProcessControllerState::WAITING) != ProcessControllerState::WAITING) {
            return;
        }
        bool stopping;
        {
            Synchronize hold(monitor);
            stopping = stopRequested;
        }
        if (stopping || !connectionMonitor.load()->wait()) {
            lastApplicationExitCode = 0;
            return;
        }
        requestState(ProcessControllerState::STARTED);
        {
            Synchronize hold(monitor);
            if (state != ProcessControllerState::STARTED) {
                return;
            }
            if (stopRequested) {
                lastApplicationExitCode = 0;
                return;
            }
            delete process;
            process = nullptr;
            std::vector<std::string> args = getChildArguments();
            std::vector<char*> vector;
            for (std::string& arg : args) {
                vector.push_back(&arg[0]);
            }
            vector.push_back(nullptr);
            process = new KorrProcessImpl(static_cast<int>(args.size()), vector.data(), workingDirectory);
            process->start();
            if (firstStart) {
                firstStart = false;
            } else {
                ++totalApplicationRestartCount;
            }
            currentApplicationRestartCount = budget.getCount();
            EventLog::infoNoFormat(rasDescriptor, NLS::format(rasDescriptor, "ZRKPC0007_STARTED_PROCESS", pid, appId,
                                                              std::to_string(process->getProcessId())));
            tell("agent running (pid " + std::to_string(process->getProcessId()) + ", restarts so far " +
                 std::to_string(totalApplicationRestartCount.load()) + ")");
            process->registerOutputStreamListener(output);
            process->registerErrorStreamListener(error);
            clientListener->notifyAppStarted();
        }

        // Only this thread replaces the child, so it is read here without the monitor.
        int exit = process->waitForProcess();
        lastApplicationExitCode = exit;
        clientListener->notifyAppStopped();

        Synchronize hold(monitor);
        bool stopped = !state.isRunning() || stopRequested;
        RestartBudget::Decision decision = budget.decide(stopped, exit, maxCount, maxInterval, maxDelay, now());
        std::string exitText = std::to_string(exit);
        std::string countText = std::to_string(decision.count);
        std::string ageText = std::to_string(decision.windowSeconds);
        std::string delayText = std::to_string(decision.delaySeconds);
        std::string text = decision.inserts == 4 ? NLS::format(rasDescriptor, decision.key, exitText, countText, ageText, delayText)
                           : decision.inserts == 3 ? NLS::format(rasDescriptor, decision.key, exitText, countText, ageText)
                                                   : NLS::format(rasDescriptor, decision.key, exitText);
        EventLog::infoNoFormat(rasDescriptor, text);
        if (decision.delaySeconds > 0) {
            tell("delaying restarts for " + delayText + " s after exit code " + exitText);
        } else if (decision.next != ProcessControllerState::STOPPED && state.isRunning() && !stopRequested) {
            tell("restarting after exit code " + exitText + " (restart " + std::to_string(decision.count + 1) + " of " +
                 std::to_string(maxCount) + ")");
        }
        requestState(decision.next);
        if (decision.delaySeconds > 0) {
            // wakeup() and a stop end the delay early; the wait releases the monitor.
            if (!stopRequested && state == ProcessControllerState::RECOVERING) {
                monitor->wait(static_cast<long>(decision.delaySeconds) * 1000L);
            }
            budget.openWindow(now());
        }
        if (!state.isRunning()) {
            return;
        }
    }
}

void ProcessController::stop(bool wait)
{
    if (rasDescriptor.isFlowOn()) {
        Trace::traceMethodEntry(rasDescriptor, this, "stop", 1, wait ? "true" : "false");
    }
    Synchronize hold(monitor);
    // Remembered, so that a run() that has not yet begun or is between two children ends.
    if (initialized) {
        stopRequested = true;
    }
    if (!running) {
        if (rasDescriptor.isFlowOn()) {
            Trace::exit(rasDescriptor, "stop");
        }
        return;
    }
    tell("stopping");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stopLimit);
    TarnConnectionMonitor* cm = connectionMonitor;
    if (cm) {
        cm->stop();
    }
    long rc = clientListener ? clientListener->stopApp(stopLimit) : IPCMessage::STATUS_EXCEPTION;
    if (rc == IPCMessage::STATUS_SUCCESS || rc == IPCMessage::STATUS_WARNING || process == nullptr) {
        if (wait) {
            long left = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
            // An application that accepted but does not go is ended like one that refused.
            if (!waitStopComplete(left > 0 ? left : 0)) {
                EventLog::warningNoFormat(rasDescriptor, NLS::format(rasDescriptor, "ZRKPC0088_STOP_TIMED_OUT",
                                                                     std::to_string(stopLimit)));
                forceStop(true);
            }
        }
    } else {
        EventLog::warningNoFormat(rasDescriptor, NLS::format(rasDescriptor, "ZRKPC0089_STOP_NOT_ACCEPTED"));
        forceStop(wait);
    }
    if (rasDescriptor.isFlowOn()) {
        Trace::exit(rasDescriptor, "stop");
    }
}

void ProcessController::forceStop(bool wait)
{
    if (rasDescriptor.isFlowOn()) {
        Trace::traceMethodEntry(rasDescriptor, this, "forceStop", 1, wait ? "true" : "false");
    }
    Synchronize hold(monitor);
    if (initialized) {
        stopRequested = true;
    }
    if (process) {
        process->stop();
    }
    if (wait) {
        waitStopComplete();
    }
    if (rasDescriptor.isFlowOn()) {
        Trace::exit(rasDescriptor, "forceStop");
    }
}

// Called with the monitor held; every wait releases it, so run() can finish.
void ProcessController::waitStopComplete() { waitStopComplete(-1); }

bool ProcessController::waitStopComplete(long milliseconds)
{
    if (!running) {
        return true;
    }
    TarnConnectionMonitor* cm = connectionMonitor;
    if (cm) {
        cm->stop();
    }
    monitor->notifyAll();   // ends a restart delay
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    while (running) {
        if (milliseconds < 0) {
            monitor->wait(-1);
            continue;
        }
        long left = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0) {
            return false;
        }
        monitor->wait(left);
    }
    return true;
}

bool ProcessController::isRunning() const
{
    Synchronize hold(monitor);
    return running;
}

void ProcessController::shutdownAction(int code)
{
    setExitCode(code);
    requestState(ProcessControllerState::ISTOPPING);
    stop(false);
}

void ProcessController::outputDiagnosticsAction()
{
    if (clientListener) {
        clientListener->onMessage(IPCMessage(0, IPCMessageType(IPCMessageType::JCOR).toString()));
    }
}

int ProcessController::shutdown()
{
    if (rasDescriptor.isFlowOn()) {
        Trace::traceMethodEntry(rasDescriptor, this, "shutdown", 0);
    }
    {
        Synchronize hold(monitor);
        if (!initialized) {
            return 0;
        }
    }
    if (isRunning()) {
        KorrException e("Still running");
        FFDC::capture(rasDescriptor, this, "shutdown", FFDC::PROBE_006(), &e);
        return 70;
    }
    if (signalsHandled) {
        KorrUtils::handleSignals(nullptr);   // no signal may reach a controller being taken apart
        signalsHandled = false;
    }
    if (clientListener) {
        clientListener->shutdown();
        delete clientListener;
        clientListener = nullptr;
    }
    delete connectionMonitor.exchange(nullptr);
    retiredMonitors.clear();
    int code = static_cast<int>(getExitCode());
    EventLog::infoNoFormat(rasDescriptor,
                           NLS::format(rasDescriptor, "ZRKPC0004_PROCESS_CONTROLLER_ENDED", std::to_string(code)));
    if (fileLock == nullptr) {
        if (rasDescriptor.isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rasDescriptor, TraceLevel::MODERATE, this, "shutdown", 1, "File not locked");
        }
    } else {
        // The file goes while the lock is still held, so that no other controller can have
        // locked it in between and lose it.
        if (!fileLock->removeLockFile() && rasDescriptor.isOn(TraceLevel::MODERATE)) {
            std::string error = KorrUtils::getLastErrorMessage();
            Trace::traceMethodData(rasDescriptor, TraceLevel::MODERATE, this, "shutdown", 3, "Failed to delete file: ",
                                   lockFileName.c_str(), error.c_str());
        }
        delete fileLock;
        fileLock = nullptr;
    }
    if (rasDescriptor.isFlowOn()) {
        std::string text = std::to_string(code);
        Trace::traceMethodExit(rasDescriptor, this, "shutdown", &text, "int");
    }
    RAS::shutdown();
    rasDescriptor = RasDescriptor();
    {
        Synchronize hold(monitor);
        initialized = false;
    }
    return code;
}

NativeProperties ProcessController::getStatusProperties() const
{
    const KorrPropConstant& keys = KorrPropConstant::getInstance();
    NativeProperties status;
    status.setProperty(keys.processControllerStatus.getKey(), ProcessControllerState(stateValue.load()).toString());
    status.setProperty(keys.lastApplicationExitCode.getKey(), std::to_string(lastApplicationExitCode.load()));
    TarnConnectionMonitor* cm = connectionMonitor;
    if (cm) {
        status.setProperty(keys.queueManagerStatus.getKey(), cm->getState().toString());
        status.setProperty(keys.queueManagerLastError.getKey(), std::to_string(cm->getLastError()));
    }
    status.setProperty(keys.currentApplicationRestartCount.getKey(), std::to_string(currentApplicationRestartCount.load()));
    status.setProperty(keys.totalApplicationRestartCount.getKey(), std::to_string(totalApplicationRestartCount.load()));
    return status;
}

std::ostream& operator<<(std::ostream& out, const ProcessController& c)
{
    return out << "ProcessController " << " state: " << ProcessControllerState(c.stateValue.load())
               << " initialized: " << c.initialized << " pid: " << c.pid << " appId: " << c.appId
               << " appIPCServiceName: " << c.appIPCServiceName << " workingDirectory: " << c.workingDirectory
               << " logDirectory: " << c.logDirectory << " lockFileName: " << c.lockFileName;
}
