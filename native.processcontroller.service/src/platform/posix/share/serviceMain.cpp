#include "serviceMain.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "ChildReaper.h"
#include "KorrException.h"
#include "KorrThreadImpl.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "ProcessController.h"
#include "ProcessMonitor.h"
#include "ServiceDispatcher.h"
#include "ServiceLog.h"
#include "ServiceStatus.h"
#include "SystemdNotifier.h"
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
SystemdNotifier* notifier = nullptr;          // set by serviceEntry before any thread starts
std::mutex statusLock;                        // guards status and orders the notifications
ServiceStatus status;

void printUsage(std::FILE* out)
{
    std::fputs("Usage: ostarapcservice SERVICE_NAME LOG_DIRECTORY LOG_LEVEL CONTROLLER_OPTIONS... PROGRAM [ARGS...]\n"
               "       ostarapcservice -install -serviceName=NAME [-displayName=TEXT] [-description=TEXT]\n"
               "               [-user=ACCOUNT] [-directory=DIR] [-logLevel=LEVEL] [-pcOptions=OPTIONS...]\n"
               "Runs one process controller as a systemd service (Type=notify): SIGTERM or SIGINT stop it,\n"
               "SIGHUP reports its status again. Logs go to LOG_DIRECTORY/logs. The exit status is the\n"
               "controller's.\n",
               out);
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

void sendCurrentStatus()
{
    std::lock_guard<std::mutex> hold(statusLock);
    if (notifier) {
        notifier->notify(status.notifyMessage());
    }
}

} // namespace

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
    return std::string();
}

void reportServiceStatus(unsigned int state, unsigned int controlsAccepted, unsigned int win32ExitCode,
                         unsigned int serviceSpecificExitCode, unsigned int checkPoint, unsigned int waitHint)
{
    bool sent = true;
    int error = 0;
    {
        std::lock_guard<std::mutex> hold(statusLock);
        status.currentState = state;
        status.controlsAccepted = controlsAccepted;
        status.win32ExitCode = win32ExitCode;
        status.serviceSpecificExitCode = serviceSpecificExitCode;
        status.checkPoint = checkPoint;
        status.waitHint = waitHint;
        if (notifier) {
            sent = notifier->notify(status.notifyMessage());
            error = errno;
        }
    }
    if (!sent) {
        logLine("SetServiceStatus failed, reason: " + KorrUtils::getLastErrorMessage(error));
    }
}

void serviceControlHandler(unsigned int control)
{
    switch (control) {
    case ServiceStatus::CONTROL_STOP: {
        logLine("Service " + serviceName + " stop requested");
        reportServiceStatus(ServiceStatus::STOP_PENDING, STOP_AND_SHUTDOWN, 0, 0, 0, 600000);
        KorrThreadSync* held = wakeServiceThread("Failed to notify of stop request, error: ");
        unsigned int current;
        {
            std::lock_guard<std::mutex> hold(statusLock);
            current = status.currentState;
        }
        reportServiceStatus(current, STOP_AND_SHUTDOWN, 0, 0, 0, 600000);
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
        reportServiceStatus(ServiceStatus::STOP_PENDING, ServiceStatus::ACCEPT_SHUTDOWN, 0, 0, 0, 10000);
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
        return 1;
    }
    serviceName = argv[1];
    logDirectory = argv[2];
    logLevel = argv[3];
    try {
        logDirectory = redirectStdStreams(logDirectory);
    } catch (const KorrException& e) {
        reportFailure("redirectStdStreams", serviceName, e.getMessage());
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
    std::string inherited = KorrUtils::getenv("LD_LIBRARY_PATH");
    if (!inherited.empty()) {
        libraryPath += KorrUtils::pathSeparator() + inherited;
    }
    try {
        KorrUtils::setenv("LD_LIBRARY_PATH", libraryPath);
    } catch (const KorrException& e) {
        serviceLog->log("Failed to set the LD_LIBRARY_PATH environment variable, reason: " + e.getMessage());
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

    // Descendants of the agent that outlive it become this process's children, and are collected.
    if (!ChildReaper::start()) {
        serviceLog->log("Unable to become a child subreaper, reason: " + KorrUtils::getLastErrorMessage());
    }
    controller = new ProcessController(argc - 4, argv + 4);
    controller->setOutputLogDirectory(logDirectory);

    if (!ServiceDispatcher::registerControlHandler(serviceControlHandler)) {
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
        reportEvent(argv[1], exitStatusMessage(exitStatus, serviceName));
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
    if (std::strncmp(argv[1], "-install", 8) == 0) {
        return install(argc - 2, argv + 2);
    }
    savedArgc = argc;
    savedArgv = argv;
    notifier = SystemdNotifier::fromEnvironment();
    try {
        return ServiceDispatcher::start(serviceMain);
    } catch (const KorrException& e) {
        reportFailure("StartServiceCtrlDispatcher", argv[1], e.getMessage());
        return 1;
    }
}
