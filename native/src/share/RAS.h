// The diagnostics set-up of a process: its environment, the root logger with the event-log,
// console and trace handlers, the log path, and the trace setting, which switches
// trace on for chosen class-name subtrees:
//     setting = ["+"] entry { ":" entry }      "+" keeps the loggers set before
//     entry   = names "=" level | names | "=" level      (names alone: ALL; "=" alone: the root)
//     names   = name { "," name }
// Names are dotted class names under the trace-name prefix; an unknown level word reads INFO.
// isTraceAvailable and isDebugOn take no lock, so that disabled trace checks stay cheap.
#ifndef OSTARA_RAS_H
#define OSTARA_RAS_H

#include <atomic>
#include <map>
#include <string>

#include "LogLevel.h"
#include "RASEnvironment.h"
#include "TraceLevel.h"

class LogFileProperties;
class LogHandler;
class Logger;
// The JNI environment, declared as jni.h declares it for C++, so that only the Java bindings
// need jni.h; the Java form of initialize is defined beside them.
struct JNIEnv_;
typedef JNIEnv_ JNIEnv;

class RAS
{
public:
    // Takes ownership of the three handlers (any may be null). The event-log handler goes on
    // the root logger; the console handler too, but only in DAEMON_FOREGROUND and UNITTEST
    // (elsewhere it is deleted); the trace handler joins the root when a trace setting
    // first turns FINE on. A second call is ignored (its handlers deleted) unless the
    // environment is UNITTEST, which replaces the previous handlers.
    static void initialize(const RASEnvironment& environment, LogHandler* eventLogHandler,
                           LogHandler* consoleHandler, LogHandler* traceHandler,
                           const std::string& traceSpecNamePrefix);
    // The same with the product's own handlers: an event-log file and a trace file of those
    // properties, and a console handler in DAEMON_FOREGROUND and UNITTEST. A call that would
    // be ignored creates no files.
    static void initialize(const RASEnvironment& environment, const LogFileProperties& eventLog,
                           const LogFileProperties& trace, const std::string& traceSpecNamePrefix);
    // The Java process's form: events and trace records go to the Java side's EventLog and
    // Trace classes through handlers made on that JNI environment, and logPath is the
    // directory given rather than a published one. No console handler.
    static void initialize(const RASEnvironment& environment, JNIEnv* env, const std::string& traceSpecNamePrefix,
                           std::string logPath);
    static void setLevel(const std::string& traceSetting);
    // True when getLevel knows the word (any case) rather than falling back to INFO; "off" and
    // "info" count as levels.
    static bool isLevelName(const std::string& name);
    static void setDebugLevel(const TraceLevel& level);
    // Whether a debug descriptor (one without a logger) traces at that level.
    static bool isDebugOn(const TraceLevel& level)
    {
        int v = level.getValue();
        return v != TraceLevel::OFF && v >= debugLevelValue.load(std::memory_order_relaxed);
    }
    // False until the first trace setting has been applied.
    static bool isTraceAvailable() { return traceAvailableFlag.load(std::memory_order_acquire); }
    static RASEnvironment getEnvironment();
    // The directory for log, trace and failure-report files; valid once initialize has run.
    static std::string getLogPath();
    static std::string getTraceSpecNamePrefix();
    static void shutdown();

private:
    RAS();
    RAS(const RAS&);
    RAS& operator=(const RAS&);
    virtual ~RAS();

    static RAS* getInstance();
    // What both forms of initialize do; a null logPath takes the published log directory.
    static void install(const RASEnvironment& environment, LogHandler* eventLogHandler, LogHandler* consoleHandler,
                        LogHandler* traceHandler, const std::string& traceSpecNamePrefix, const std::string* logPath);
    static LogLevel getLevel(const std::string& name);
    Logger* addLogger(const std::string& name, const LogLevel& level);
    void discardTraceLoggers();
    static bool isTraceable(Logger& logger);
    void attachTraceHandlerIfNeeded();
    void releaseHandlers();

    RASEnvironment environment;
    TraceLevel debugLevel;
    std::string traceSpecNamePrefix;
    std::map<std::string, Logger*> traceLoggers;   // loggers not owned
    Logger* rootLogger;
    LogHandler* traceHandler;
    LogHandler* eventLogHandler;
    LogHandler* consoleHandler;
    bool initialized;
    bool traceHandlerAttached;
    std::string logPath;

    static RAS* impl;
    // Copies of the state that other threads read without the lock.
    static std::atomic<bool> traceAvailableFlag;
    static std::atomic<int> debugLevelValue;
    static std::atomic<int> environmentValue;
};

#endif
