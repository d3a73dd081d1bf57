#include "serviceMain.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <mutex>
#include <vector>

#include "KorrException.h"
#include "KorrThreadImpl.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "ProcessController.h"
#include "ProcessControllerObserver.h"
#include "ProcessMonitor.h"
#include "ServiceDispatcher.h"
#include "ServiceLog.h"
#include "ServicePlatform.h"
#include "ServiceStatus.h"
#include "redirectStdStreams.h"
#include "reportEvent.h"
#include "serviceInstaller.h"

namespace {

const char* const PC_MESSAGES = "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages";
const char* const PRODUCT_ROOT_OPTION = "-Dcom.quillon.velbrix.product.root=";
const unsigned int STOP_AND_SHUTDOWN = ServiceStatus::ACCEPT_STOP | ServiceStatus::ACCEPT_SHUTDOWN;

// Process-wide state. Everything up to the handler's registration is written by the service
// thread before the dispatcher thread may read it; the rest is atomic or under statusLock.
int savedArgc = 0;
char** savedArgv = nullptr;
std::string serviceName;
std::string logDirectory;
std::string logLevel;
ServiceLog* serviceLog = nullptr;             // never deleted
ProcessController* controller = nullptr;      // never deleted
ProcessMonitor* processMonitor = nullptr;     // never deleted, nor its thread
KorrThreadImpl* controllerThread = nullptr;
std::atomic<KorrThreadSync*> monitor{nullptr};  // never deleted
std::atomic<bool> stopRequested{false};
std::mutex statusLock;                        // guards status and orders the reports
ServiceStatus status;
std::vector<char*> consoleArgv;               // the command line without "-console"

void printUsage(std::FILE* out)
{
    std::fputs(
        "Usage: ostarapcservice SERVICE_NAME LOG_DIRECTORY LOG_LEVEL CONTROLLER_OPTIONS... PROGRAM [ARGS...]\n"
        "       ostarapcservice -console SERVICE_NAME LOG_DIRECTORY LOG_LEVEL CONTROLLER_OPTIONS... PROGRAM [ARGS...]\n"
        "       ostarapcservice -install -serviceName=NAME [-displayName=TEXT] [-description=TEXT]\n"
        "               [-user=ACCOUNT] [-password=PASSWORD] [-directory=DIR] [-logLevel=LEVEL]\n"
        "               -pcOptions=OPTION|PROGRAM [ARGS...]\n"
        "       ostarapcservice -uninstall -serviceName=NAME\n"
        "\n",
        out);
    std::fputs(ServicePlatform::usageNotes(), out);
    std::fputs(
        "\n"
        "Controller options (before PROGRAM):\n"
        "  -appId=ID          application identifier, the name ostaractl uses (default: PROGRAM,\n"
        "                     which then may not be a path)\n"
        "  -directory=DIR     working directory of the application; the controller's logs go to\n"
        "                     DIR/logs (default: the current directory)\n"
        "  -properties=FILE   properties file of the agent or logger\n"
        "  -F                 foreground: the controller keeps the terminal's session\n"
        "  -Dcom.quillon.velbrix.traceSpecification=SPEC   trace, for example com.quillon.velbrix=all\n"
        "  -Dcom.quillon.velbrix.product.root=DIR          product root (message catalogues, libraries)\n"
        "\n"
        "LOG_LEVEL: All, Finest, Finer, Fine, Config, Info, Warning, Severe or Off.\n"
        "\n"
        "Exit status: the controller's: 0 stopped, 1 error, 2 the application asked to exit,\n"
        "70 internal error, 75 queue manager unavailable, 78 configuration error, 79 API error,\n"
        "80 I/O error, 81 IPC error. -install and -uninstall return 0 or a negative result:\n"
        "-1 no service name, -2 service name or -3 display name over 256 characters, -4 own path\n"
        "unreadable, -5 service manager unavailable, -6 service not created, -7 bad arguments,\n"
        "-8 not installed, -9 not the installer's.\n",
        out);
}

// The last line the controller wrote to stderr.log: the reason of a failed start, if it gave one.
std::string lastErrorLine(const std::string& directory)
{
    std::istringstream in(ServicePlatform::standardErrorTail(directory, 4096));
    std::string last;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last;
}

void logLine(const std::string& line)
{
    if (serviceLog) {
        serviceLog->log(line);
    }
}

// The process exit status for a controller exit status: a failure never reads as 0.
int processExitStatus(int exitStatus)
{
    if (exitStatus == 0) {
        return 0;
    }
    return exitStatus > 0 && exitStatus < 256 ? exitStatus : 1;
}

// Sets the stop flag, then notifies while holding the monitor, which it returns held (or
// null when there is no monitor yet): the flag keeps a stop that comes before the service
// thread waits from being lost, and the hold keeps the service thread from going on before
// the handler has written its own lines.
KorrThreadSync* wakeServiceThread(const std::string& failureText)
{
    stopRequested.store(true);
    KorrThreadSync* m = monitor.load();
    if (m) {
        m->lock();
        try {
            m->notifyAll();
        } catch (const KorrException& e) {
            logLine(failureText + e.getMessage());
        }
    }
    return m;
}

// How long the service manager is asked to wait for a stop: the controller's own bounded stop and a margin
// for the service's shutdown, not longer, so that its own stop time-out still holds beyond it.
const unsigned int STOP_MARGIN_MS = 10000;
std::atomic<unsigned int> stopWaitHint{static_cast<unsigned int>(ProcessController::STOP_LIMIT_MS) + STOP_MARGIN_MS};

// Sends the status as it stands; called with statusLock held. A failure goes to the service log.
void sendStatusLocked()
{
    int error = ServiceDispatcher::setStatus(status);
    if (error != 0) {
        logLine("SetServiceStatus failed, reason: " + KorrUtils::getLastErrorMessage(error));
    }
}

// The controller's words become the status detail; while stopping each one also advances the
// check point and renews the wait hint, so the manager hears progress rather than one long promise.
class StatusReporter : public ProcessControllerObserver
{
public:
    void stateChanged(const std::string& description) override
    {
        std::lock_guard<std::mutex> hold(statusLock);
        status.detail = description;
        if (status.currentState == ServiceStatus::STOP_PENDING) {
            ++status.checkPoint;
        }
        sendStatusLocked();
    }
};

void sendCurrentStatus()
{
    std::lock_guard<std::mutex> hold(statusLock);
    sendStatusLocked();
}

} // namespace

namespace {

// The levels a service log level may name, in any case.
const char* const LOG_LEVELS[] = {"All", "Finest", "Finer", "Fine", "Config", "Info", "Warning", "Severe", "Off"};

} // namespace

bool isLogLevel(const std::string& level)
{
    for (const char* name : LOG_LEVELS) {
        std::size_t length = std::strlen(name);
        bool same = level.size() == length;
        for (std::size_t i = 0; same && i < length; ++i) {
            same = std::tolower(static_cast<unsigned char>(level[i])) ==
                   std::tolower(static_cast<unsigned char>(name[i]));
        }
        if (same) {
            return true;
        }
    }
    return false;
}

std::string logLevelList()
{
    std::string list;
    for (const char* name : LOG_LEVELS) {
        list += (list.empty() ? "" : ", ") + std::string(name);
    }
    return list;
}

std::string exitStatusMessage(int exitStatus, const std::string& name)
{
    static const struct {
        int status;
        const char* key;
    } table[] = {
        {1, "ZRKPC0061_GENERAL_ERROR"},   {2, "ZRKPC0060_FORCED_EXIT"},    {70, "ZRKPC0059_FORCED_TERMINATE"},
        {75, "ZRKPC0058_QM_UNAVAILABLE"}, {78, "ZRKPC0054_CONFIG_ERROR"},  {79, "ZRKPC0055_API_ERROR"},
        {80, "ZRKPC0056_IO_ERROR"},       {81, "ZRKPC0057_IPC_ERROR"},
    };
    for (const auto& row : table) {
        if (row.status == exitStatus) {
            return NLS::format(PC_MESSAGES, row.key, name);
        }
    }
    // Any other status is the application's own exit code: the entry still says so.
    return NLS::format(PC_MESSAGES, "ZRKPC0087_APPLICATION_EXIT_CODE", name, std::to_string(exitStatus));
}

void reportServiceStatus(unsigned int state, unsigned int controlsAccepted, unsigned int win32ExitCode,
                         unsigned int serviceSpecificExitCode, unsigned int checkPoint, unsigned int waitHint)
{
    std::lock_guard<std::mutex> hold(statusLock);
    if (status.record(state, controlsAccepted, win32ExitCode, serviceSpecificExitCode, checkPoint, waitHint)) {
        sendStatusLocked();
    }
}

void serviceControlHandler(unsigned int control)
{
    switch (control) {
    case ServiceStatus::CONTROL_STOP: {
        logLine("Service " + serviceName + " stop requested");
        reportServiceStatus(ServiceStatus::STOP_PENDING, STOP_AND_SHUTDOWN, 0, 0, 1, stopWaitHint.load());
        KorrThreadSync* held = wakeServiceThread("Failed to notify of stop request, error: ");
        unsigned int current;
        unsigned int checkPoint;
        {
            std::lock_guard<std::mutex> hold(statusLock);
            current = status.currentState;
            checkPoint = status.checkPoint + 1;
        }
        // The service thread cannot have gone on yet (the monitor is held): still stopping.
        reportServiceStatus(current, STOP_AND_SHUTDOWN, 0, 0, checkPoint, stopWaitHint.load());
        logLine("Service " + serviceName + " stop complete");
        if (held) {
            held->unlock();
        }
        break;
    }
    case ServiceStatus::CONTROL_INTERROGATE:
        sendCurrentStatus();
        break;
    case ServiceStatus::CONTROL_SHUTDOWN: {
        reportServiceStatus(ServiceStatus::STOP_PENDING, ServiceStatus::ACCEPT_SHUTDOWN, 0, 0, 1, 10000);
        KorrThreadSync* held = wakeServiceThread("Failed to notify of shutdown request, error: ");
        reportServiceStatus(ServiceStatus::STOPPED, ServiceStatus::ACCEPT_SHUTDOWN, 0, 0, 0, 0);
        logLine("Service " + serviceName + " shutdown accepted");
        if (held) {
            held->unlock();
        }
        break;
    }
    default:
        logLine("Service " + serviceName + " - unexpected control code " + std::to_string(control));
        break;
    }
}

int serviceMain()
{
    int argc = savedArgc;
    char** argv = savedArgv;
    if (argc < 5) {
        reportFailure("serviceMain", argv[1], "Insufficient service arguments");
        ServicePlatform::tellStarter(std::string("ostarapcservice: ") + argv[1] +
                                     ": Insufficient service arguments: a service name, a log directory, "
                                     "a log level and the controller's program are needed (see --help)");
        return 1;
    }
    serviceName = argv[1];
    logDirectory = argv[2];
    logLevel = argv[3];
    try {
        logDirectory = redirectStdStreams(logDirectory);
    } catch (const KorrException& e) {
        reportFailure("redirectStdStreams", serviceName, e.getMessage());
        ServicePlatform::tellStarter(serviceName + ": redirectStdStreams failed with error " + e.getMessage());
        return 1;
    }
    serviceLog = new ServiceLog(logDirectory + KorrUtils::separator() + "service%g.log", 1048576, 5, true, true);

    std::string productRoot;
    const std::size_t prefixLength = std::strlen(PRODUCT_ROOT_OPTION);
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], PRODUCT_ROOT_OPTION, prefixLength) == 0) {
            productRoot = argv[i] + prefixLength;
        }
    }
    try {
        KorrUtils::setenv("ZRK_PROD", productRoot);
    } catch (const KorrException& e) {
        serviceLog->log("Failed to set the ZRK_PROD environment variable, reason: " + e.getMessage());
        serviceLog->close();
        return 1;
    }
    // The JVM finds the runtime library through the loader's search path. An empty entry would
    // mean the current directory, so none is added when the variable was empty.
    const std::string sep = KorrUtils::separator();
    std::string libraryPath = productRoot + sep + ".." + sep + "java" + sep + "lib" + "64";
    const std::string variable = ServicePlatform::libraryPathVariable();
    std::string inherited = KorrUtils::getenv(variable);
    if (!inherited.empty()) {
        libraryPath += KorrUtils::pathSeparator() + inherited;
    }
    try {
        KorrUtils::setenv(variable, libraryPath);
    } catch (const KorrException& e) {
        serviceLog->log("Failed to set the " + variable + " environment variable, reason: " + e.getMessage());
        serviceLog->close();
        return 1;
    }

    serviceLog->log("Service " + serviceName + " starting");
    serviceLog->log("logDirectory is: " + logDirectory);
    serviceLog->log("logLevel is: " + logLevel);
    serviceLog->log("service arguments:");
    for (int i = 0; i < argc; ++i) {
        serviceLog->log("arg[" + std::to_string(i) + "] : " + argv[i]);
    }
    // Checked once the product root is known, so that the message is text, not its key.
    if (!isLogLevel(logLevel)) {
        std::string text = NLS::format(PC_MESSAGES, "ZRKPC0071_INVALID_LOG_LEVEL", logLevel, logLevelList());
        serviceLog->log(text);
        serviceLog->close();
        reportEvent(serviceName, text);
        ServicePlatform::tellStarter(text);
        return 78;
    }

    ServicePlatform::prepareProcess(serviceLog);
    controller = new ProcessController(argc - 4, argv + 4);
    controller->setObserver(new StatusReporter());   // never deleted, like the controller
    stopWaitHint.store(static_cast<unsigned int>(controller->getStopLimit()) + STOP_MARGIN_MS);
    controller->setOutputLogDirectory(logDirectory);

    if (!ServiceDispatcher::registerControlHandler(serviceName, serviceControlHandler)) {
        serviceLog->log("Failed to register service control handler, reason: " + KorrUtils::getLastErrorMessage());
        serviceLog->close();
        return 1;
    }
    reportServiceStatus(ServiceStatus::START_PENDING, STOP_AND_SHUTDOWN, 0, 0, 1, 1000);

    KorrThreadSync* m;
    try {
        m = new KorrThreadSyncImpl();
    } catch (const KorrException& e) {
        serviceLog->log("Failed to create monitor, reason: " + e.getMessage());
        reportServiceStatus(ServiceStatus::STOPPED,
                            ServiceStatus::ACCEPT_STOP | ServiceStatus::ACCEPT_PAUSE_CONTINUE | ServiceStatus::ACCEPT_SHUTDOWN,
                            ServiceStatus::SERVICE_SPECIFIC_ERROR, 1, 0, 0);
        serviceLog->close();
        return 1;
    }
    monitor.store(m);

    // Held from here until the wait releases it: neither the controller thread nor the control
    // handler can notify before the service thread waits.
    m->lock();
    processMonitor = new ProcessMonitor(controller, m, serviceLog);
    controllerThread = new KorrThreadImpl(processMonitor);
    serviceLog->log("ProcessController starting");
    try {
        controllerThread->start();
    } catch (const KorrException& e) {
        serviceLog->log("Failed to start ProcessController thread, error: " + e.getMessage());
        m->unlock();
        serviceLog->close();
        return 1;
    }
    reportServiceStatus(ServiceStatus::RUNNING, STOP_AND_SHUTDOWN, 0, 0, 1, 0);

    try {
        while (!stopRequested.load() && !processMonitor->hasFinished()) {
            m->wait();
        }
        if (!processMonitor->hasFinished()) {
            // A stop. stop() does nothing to a controller that is still initialising or just
            // entering run(): one not yet running is not run at all, one about to run is waited
            // for until it runs.
            processMonitor->requestStop();
            while (!processMonitor->hasFinished() && !(processMonitor->hasStarted() && controller->isRunning())) {
                m->wait(50);
            }
        }
    } catch (const KorrException& e) {
        serviceLog->log("Failed to wait for ProcessController thread, error: " + e.getMessage());
    }
    m->unlock();

    serviceLog->log("ProcessController shutdown requested");
    controller->stop(true);
    int exitStatus = controller->shutdown();
    // A controller that failed to initialise reports 0 from shutdown(); its thread has the code.
    if (exitStatus == 0 && processMonitor->hasFinished()) {
        exitStatus = static_cast<int>(processMonitor->getResult());
    }
    serviceLog->log("ProcessController shutdown, exit status: " + std::to_string(exitStatus));

    try {
        controllerThread->join();
    } catch (const KorrException& e) {
        serviceLog->log("Failed to join ProcessController thread, error: " + e.getMessage());
    }
    serviceLog->log("Service " + serviceName + " exiting");
    serviceLog->close();

    if (exitStatus != 0) {
        std::string text = exitStatusMessage(exitStatus, serviceName);
        // A controller that never ran failed in its start-up: its reason goes with the event, and
        // to whoever started the service, since its own streams went to the log directory.
        if (!processMonitor->hasStarted()) {
            std::string reason = lastErrorLine(logDirectory);
            if (!reason.empty()) {
                text += (text.empty() ? "" : " ") + reason;
            }
            ServicePlatform::tellStarter(NLS::format(PC_MESSAGES, "ZRKPC0072_START_FAILED", serviceName,
                                    reason.empty() ? text : reason, logDirectory));
        }
        reportEvent(argv[1], text);
    }
    reportServiceStatus(ServiceStatus::STOPPED, STOP_AND_SHUTDOWN,
                        exitStatus != 0 ? ServiceStatus::SERVICE_SPECIFIC_ERROR : 0,
                        static_cast<unsigned int>(exitStatus), 0, 0);
    return processExitStatus(exitStatus);
}

int serviceEntry(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("Insufficient arguments\n", stderr);
        printUsage(stderr);
        return 1;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printUsage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "-uninstall") == 0) {
        return uninstall(argc - 2, argv + 2);
    }
    if (std::strncmp(argv[1], "-install", 8) == 0) {
        return install(argc - 2, argv + 2);
    }
    // "-console": the same service, run in the foreground without the service manager.
    bool console = std::strcmp(argv[1], "-console") == 0;
    if (console) {
        consoleArgv.assign(argv, argv + argc);
        consoleArgv.erase(consoleArgv.begin() + 1);
        consoleArgv.push_back(nullptr);
        argc -= 1;
        argv = consoleArgv.data();
        if (argc < 2) {
            std::fputs("Insufficient arguments\n", stderr);
            printUsage(stderr);
            return 1;
        }
    }
    savedArgc = argc;
    savedArgv = argv;
    ServicePlatform::keepStarterError();
    try {
        return ServiceDispatcher::start(argv[1], console, serviceMain);
    } catch (const KorrException& e) {
        reportFailure("StartServiceCtrlDispatcher", argv[1], e.getMessage());
        ServicePlatform::tellStarter(std::string("ostarapcservice: ") + argv[1] +
                                     ": the service control dispatcher could not be started: " + e.getMessage() +
                                     " (see --help for -console)");
        return 1;
    }
}
