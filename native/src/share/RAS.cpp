#include "RAS.h"

#include <cctype>
#include <memory>
#include <vector>

#include "ConsoleLogHandler.h"
#include "EventLog.h"
#include "EventLogHandler.h"
#include "FFDC.h"
#include "KorrEnvironment.h"
#include "KorrException.h"
#include "KorrThreadSyncImpl.h"
#include "LogHandler.h"
#include "Logger.h"
#include "NLS.h"
#include "PropertyNotFoundException.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Synchronize.h"
#include "Trace.h"
#include "TraceFileLogHandler.h"

RAS* RAS::impl = nullptr;
std::atomic<bool> RAS::traceAvailableFlag(false);
std::atomic<int> RAS::debugLevelValue(TraceLevel::OFF);
std::atomic<int> RAS::environmentValue(RASEnvironment::UNSPECIFIED);

namespace {

const char* const LOG_DIR_KEY = "com.quillon.velbrix.native.logdir";

// RAS traces through a debug descriptor so that its own records never re-enter the loggers
// it is changing; its change message is an ordinary event of the class "RAS".
const RasDescriptorSlot rdSlot("RAS (DEBUG)", nullptr);

const RasDescriptor& rd() { return rdSlot.get(); }

const RasDescriptor& eventRd()
{
    static const RasDescriptor* d = new RasDescriptor("RAS", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

// Guards the instance and everything it holds. It outlives every instance, so that a call
// waiting for it while another thread shuts down does not find it deleted.
KorrThreadSync& rasLock()
{
    static KorrThreadSync* lock = new KorrThreadSyncImpl();
    return *lock;
}

// The trace-name prefix and log path, published for readers that must not take the RAS lock:
// Trace reads the prefix while holding the trace lock, and RAS takes the trace lock while
// holding its own.
struct Published {
    std::string prefix;
    std::string logPath;
};

std::shared_ptr<const Published>& published()
{
    static std::shared_ptr<const Published>* p = new std::shared_ptr<const Published>(new Published());
    return *p;
}

void publish(const std::string& prefix, const std::string& logPath)
{
    std::atomic_store(&published(), std::shared_ptr<const Published>(new Published{prefix, logPath}));
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        std::string::size_type at = text.find(separator, start);
        std::string part = text.substr(start, at == std::string::npos ? std::string::npos : at - start);
        if (!part.empty()) {
            parts.push_back(part);
        }
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::string upper(const std::string& text)
{
    std::string result = text;
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

} // namespace

RAS::RAS()
    : rootLogger(nullptr), traceHandler(nullptr), eventLogHandler(nullptr), consoleHandler(nullptr),
      initialized(false), traceHandlerAttached(false)
{
}

RAS::RAS(const RAS&) : RAS()
{
    KorrException e("RAS copy constructor should never be called!");
    FFDC::capture(rd(), this, "RAS", FFDC::PROBE_001(), &e);
}

RAS& RAS::operator=(const RAS&)
{
    KorrException e("RAS assignment operator should never be called!");
    FFDC::capture(rd(), this, "operator=", FFDC::PROBE_002(), &e);
    return *this;
}

RAS::~RAS()
{
    delete rootLogger;   // leaves the registry; its children lose their parent
    delete traceHandler;
    delete eventLogHandler;
    delete consoleHandler;
}

RAS* RAS::getInstance()
{
    Synchronize hold(&rasLock());
    if (impl == nullptr) {
        impl = new RAS();
    }
    return impl;
}

void RAS::initialize(const RASEnvironment& env, LogHandler* eventHandler, LogHandler* console, LogHandler* trace,
                     const std::string& prefix)
{
    install(env, eventHandler, console, trace, prefix, nullptr);
}

void RAS::install(const RASEnvironment& env, LogHandler* eventHandler, LogHandler* console, LogHandler* trace,
                  const std::string& prefix, const std::string* givenLogPath)
{
    Synchronize hold(&rasLock());
    RAS* ras = getInstance();
    ras->environment = env;
    environmentValue.store(env.getValue(), std::memory_order_relaxed);
    if (ras->initialized && env != RASEnvironment::UNITTEST) {
        delete eventHandler;
        delete console;
        delete trace;
        return;
    }
    // A unit test that initialises again replaces the handlers: the old ones would otherwise
    // stay on the root and write every record twice.
    ras->releaseHandlers();

    ras->initialized = true;
    ras->traceSpecNamePrefix = prefix;
    if (givenLogPath) {
        ras->logPath = *givenLogPath;
    } else {
        try {
            ras->logPath = KorrEnvironment::getProperty(LOG_DIR_KEY);
        } catch (const PropertyNotFoundException&) {
            ras->logPath.clear();   // no directory published: files go to the working directory
        }
    }
    publish(ras->traceSpecNamePrefix, ras->logPath);
    ras->rootLogger = Logger::getLogger("");

    ras->eventLogHandler = eventHandler;
    if (eventHandler) {
        ras->rootLogger->addHandler(*eventHandler);
    }
    if (console && (env == RASEnvironment::DAEMON_FOREGROUND || env == RASEnvironment::UNITTEST)) {
        ras->consoleHandler = console;
        ras->rootLogger->addHandler(*console);
    } else {
        delete console;
    }
    ras->traceHandler = trace;
    // A trace setting applied before initialisation may already want the trace file.
    ras->attachTraceHandlerIfNeeded();
}

void RAS::initialize(const RASEnvironment& env, const LogFileProperties& eventLog, const LogFileProperties& trace,
                     const std::string& prefix)
{
    Synchronize hold(&rasLock());
    RAS* ras = getInstance();
    if (ras->initialized && env != RASEnvironment::UNITTEST) {
        ras->environment = env;
        environmentValue.store(env.getValue(), std::memory_order_relaxed);
        return;
    }
    // The old handlers let go of their files first, so that the new ones get the same names.
    ras->releaseHandlers();
    LogHandler* console = nullptr;
    if (env == RASEnvironment::DAEMON_FOREGROUND || env == RASEnvironment::UNITTEST) {
        console = new ConsoleLogHandler();
    }
    initialize(env, new EventLogHandler(eventLog), console, new TraceFileLogHandler(trace), prefix);
}

void RAS::releaseHandlers()
{
    LogHandler* handlers[] = {eventLogHandler, consoleHandler, traceHandler};
    for (LogHandler* h : handlers) {
        if (h && rootLogger) {
            rootLogger->removeHandler(*h);
        }
        delete h;
    }
    eventLogHandler = consoleHandler = traceHandler = nullptr;
    traceHandlerAttached = false;
}

void RAS::setLevel(const std::string& setting)
{
    Synchronize hold(&rasLock());
    RAS* ras = getInstance();
    std::string rest = setting;
    if (!rest.empty() && rest[0] == '+') {
        rest.erase(0, 1);
    } else {
        ras->discardTraceLoggers();
    }
    for (const std::string& entry : split(rest, ':')) {
        std::string::size_type at = entry.find('=', 1);
        if (at != std::string::npos) {
            LogLevel level = getLevel(entry.substr(at + 1));
            for (const std::string& name : split(entry.substr(0, at), ',')) {
                ras->addLogger(name, level);
            }
        } else if (entry[0] == '=') {
            ras->addLogger("", getLevel(entry.substr(1)));
        } else {
            for (const std::string& name : split(entry, ',')) {
                if (rd().isOn(TraceLevel::MODERATE)) {
                    Trace::traceMethodData(rd(), TraceLevel::MODERATE, nullptr, "setLevel", 1,
                                           ("addLogger for key: " + name).c_str());
                }
                ras->addLogger(name, LogLevel::ALL);
            }
        }
    }
    if (ras->environment != RASEnvironment::JAVA_APP) {
        EventLog::infoNoFormat(eventRd(), NLS::format(eventRd(), "ZRKNV0018_TRACE_CHANGE", setting));
    }
    traceAvailableFlag.store(true, std::memory_order_release);
}

LogLevel RAS::getLevel(const std::string& name)
{
    std::string word = upper(name);
    if (word == "CONFIG") {
        return LogLevel::CONFIG;
    }
    if (word == "WARNING") {
        return LogLevel::WARNING;
    }
    if (word == "ERROR" || word == "SEVERE" || word == "FATAL") {
        return LogLevel::SEVERE;
    }
    if (word == "ALL") {
        return LogLevel::ALL;
    }
    if (word == "VERBOSE") {
        return LogLevel::FINEST;
    }
    if (word == "MODERATE") {
        return LogLevel::FINER;
    }
    if (word == "FLOW") {
        return LogLevel::FINE;
    }
    // "OFF" means trace off, not events off: the subtree keeps its INFO messages.
    return LogLevel::INFO;
}

bool RAS::isLevelName(const std::string& name)
{
    static const char* const words[] = {"CONFIG", "WARNING", "ERROR", "SEVERE", "FATAL", "ALL",
                                        "VERBOSE", "MODERATE", "FLOW", "OFF", "INFO"};
    std::string word = upper(name);
    for (const char* w : words) {
        if (word == w) {
            return true;
        }
    }
    return false;
}

Logger* RAS::addLogger(const std::string& name, const LogLevel& level)
{
    Synchronize hold(&rasLock());
    const std::string& prefix = traceSpecNamePrefix;
    std::string loggerName;
    if (name.empty() || startsWith(prefix, name + ".")) {
        loggerName = "";   // the root, or a package above the prefix
    } else if (startsWith(name, prefix)) {
        loggerName = name.substr(prefix.size());
        if (!loggerName.empty() && loggerName[0] == '.') {
            loggerName.erase(0, 1);
        } else if (!loggerName.empty() && !prefix.empty()) {
            return nullptr;   // "com.x.nativeFoo" only looks as if it were under "com.x.native"
        }
    } else {
        return nullptr;
    }
    Logger* logger = Logger::getLogger(loggerName);
    logger->setLevel(level);
    traceLoggers.emplace(loggerName, logger);
    if (isTraceable(*logger)) {
        attachTraceHandlerIfNeeded();
    }
    return logger;
}

void RAS::attachTraceHandlerIfNeeded()
{
    if (traceHandlerAttached || traceHandler == nullptr || rootLogger == nullptr) {
        return;
    }
    for (const auto& entry : traceLoggers) {
        if (isTraceable(*entry.second)) {
            rootLogger->addHandler(*traceHandler);
            traceHandlerAttached = true;
            return;
        }
    }
}

// Trace loggers fall back to the levels of a process without trace: the root CONFIG, the
// others INFO, so that their classes' event messages keep flowing.
void RAS::discardTraceLoggers()
{
    Synchronize hold(&rasLock());
    if (traceLoggers.empty()) {
        return;
    }
    for (const auto& entry : traceLoggers) {
        Logger* logger = entry.second;
        logger->setLevel(logger->getParent() ? LogLevel::INFO : LogLevel::CONFIG);
    }
    traceLoggers.clear();
    if (traceHandler && rootLogger) {
        rootLogger->removeHandler(*traceHandler);
    }
    traceHandlerAttached = false;
}

bool RAS::isTraceable(Logger& logger) { return logger.isLoggable(LogLevel::FINE); }

void RAS::setDebugLevel(const TraceLevel& level)
{
    Synchronize hold(&rasLock());
    getInstance()->debugLevel = level;
    debugLevelValue.store(level.getValue(), std::memory_order_relaxed);
}

RASEnvironment RAS::getEnvironment() { return RASEnvironment(environmentValue.load(std::memory_order_relaxed)); }

std::string RAS::getLogPath() { return std::atomic_load(&published())->logPath; }

std::string RAS::getTraceSpecNamePrefix() { return std::atomic_load(&published())->prefix; }

void RAS::shutdown()
{
    Synchronize hold(&rasLock());
    RAS* ras = impl;
    if (ras == nullptr) {
        return;
    }
    traceAvailableFlag.store(false, std::memory_order_release);
    debugLevelValue.store(TraceLevel::OFF, std::memory_order_relaxed);
    environmentValue.store(RASEnvironment::UNSPECIFIED, std::memory_order_relaxed);
    publish("", "");
    // Loggers outlive the instance: give back the levels the trace setting changed, or a
    // later initialisation would trace classes nobody asked for.
    ras->discardTraceLoggers();
    impl = nullptr;
    delete ras;
}
