#include "Trace.h"

#include <cstdio>
#include <exception>
#include <sstream>

#include "FFDC.h"
#include "KorrException.h"
#include "KorrThread.h"
#include "KorrThreadSyncImpl.h"
#include "LogRecord.h"
#include "Logger.h"
#include "RAS.h"
#include "TraceDataLogRecord.h"
#include "TraceEntryLogRecord.h"
#include "TraceExitLogRecord.h"
#include "TraceThrowingLogRecord.h"

namespace {

LogLevel dataLevel(const TraceLevel& level)
{
    switch (level.getValue()) {
    case TraceLevel::VERBOSE: return LogLevel::FINEST;
    case TraceLevel::MODERATE: return LogLevel::FINER;
    default: return LogLevel::FINE;
    }
}

} // namespace

// Clears the busy flag and releases the trace lock however the record's dispatch ends.
class Trace::Session
{
public:
    explicit Session(Trace& t) : trace(t) {}
    ~Session() { trace.leave(); }

private:
    Session(const Session&);
    Session& operator=(const Session&);
    Trace& trace;
};

Trace::Trace()
    : lock(new KorrThreadSyncImpl()), busy(false), methodStacks(new std::map<unsigned int, MethodStack>()),
      throwingSeen(false)
{
}

Trace::Trace(const Trace&) : Trace()
{
    KorrException e("Trace copy constructor should never be called!");
    FFDC::capture("Trace", this, "Trace", FFDC::PROBE_001(), &e);
}

Trace& Trace::operator=(const Trace&)
{
    KorrException e("Trace assignment operator should never be called!");
    FFDC::capture("Trace", this, "operator=", FFDC::PROBE_002(), &e);
    return *this;
}

Trace::~Trace()
{
    delete methodStacks;
    delete lock;
}

// Never destroyed: classes trace during static construction and destruction.
Trace& Trace::getInstance()
{
    static Trace* instance = new Trace();
    return *instance;
}

bool Trace::enter()
{
    lock->lock();
    if (busy) {
        lock->unlock();
        return false;
    }
    busy = true;
    return true;
}

void Trace::leave()
{
    busy = false;
    lock->unlock();
}

Trace::MethodStack& Trace::stackOf(unsigned int threadId) { return (*methodStacks)[threadId]; }

// A thread's stack goes as soon as it is empty, so that ended threads leave nothing behind.
void Trace::dropIfEmpty(unsigned int threadId)
{
    auto found = methodStacks->find(threadId);
    if (found != methodStacks->end() && found->second.empty()) {
        methodStacks->erase(found);
    }
}

std::string Trace::generateIndent(std::size_t depth)
{
    std::string indent;
    for (std::size_t i = 1; i < depth; ++i) {
        indent += i % 5 == 0 ? '+' : '-';
    }
    return indent + " ";
}

std::string Trace::getPrefixedClassName(const std::string& name)
{
    if (name.find('.') != std::string::npos) {
        return name;
    }
    std::string prefix = RAS::getTraceSpecNamePrefix();
    return prefix.empty() ? name : prefix + "." + name;
}

std::string Trace::pointerText(const void* p)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "@%p", p);
    return buffer;
}

void Trace::copyArguments(LogRecord& record, int count, va_list args)
{
    std::string values[LogRecord::MAX_ARGUMENTS];
    unsigned int n = count <= 0 ? 0 : static_cast<unsigned int>(count);
    if (n > LogRecord::MAX_ARGUMENTS) {
        n = LogRecord::MAX_ARGUMENTS;
    }
    for (unsigned int i = 0; i < n; ++i) {
        const char* value = va_arg(args, const char*);
        values[i] = value && *value ? value : "\"\"";
    }
    record.setArguments(n, values);
}

void Trace::dispatch(const RasDescriptor& rd, LogRecord& record, const void* object, const char* method,
                     unsigned int threadId, bool flush)
{
    record.setSourceMethodName(method ? method : "null");
    record.setSourceClassName(getPrefixedClassName(rd.getClassName()));
    record.setObjectReference(object);
    record.setThreadId(threadId);
    Logger* logger = rd.getLogger();
    if (logger) {
        logger->log(record);
        return;
    }
    std::ostringstream line;
    line << "DEBUG: " << record << "\n";
    const std::string& text = line.str();
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (flush) {
        std::fflush(stdout);
    }
}

// Trace must never disturb the traced program: a failure while writing a record is dropped.
#define OSTARA_TRACE_GUARDED(body)                       \
    try {                                                \
        body                                             \
    } catch (const KorrException&) {                     \
    } catch (const std::exception&) {                    \
    }

void Trace::entry(const RasDescriptor& rd, const char* method) { traceMethodEntry(rd, nullptr, method, 0); }

void Trace::exit(const RasDescriptor& rd, const char* method) { traceMethodExit(rd, nullptr, method, nullptr, ""); }

void Trace::data(const RasDescriptor& rd, const TraceLevel& level, const char* method)
{
    traceMethodData(rd, level, nullptr, method, 0);
}

void Trace::throwing(const RasDescriptor& rd, const char* method, const KorrException* e)
{
    traceMethodThrowing(rd, nullptr, method, e);
}

void Trace::traceMethodEntry(const RasDescriptor& rd, const void* object, const char* method, int count, ...)
{
    Trace& t = getInstance();
    if (!t.enter()) {
        return;
    }
    Session session(t);
    OSTARA_TRACE_GUARDED({
        unsigned int tid = KorrThread::getCurrentThreadId();
        std::string prefix;
        MethodStack& stack = t.stackOf(tid);
        if (method) {
            stack.push_back(method);
            prefix = generateIndent(stack.size());
        }
        t.dropIfEmpty(tid);
        prefix += " { ";
        TraceEntryLogRecord record(LogLevel::FINE, prefix);
        va_list args;
        va_start(args, count);
        copyArguments(record, count, args);
        va_end(args);
        t.dispatch(rd, record, object, method, tid, true);
    })
}

void Trace::traceMethodData(const RasDescriptor& rd, const TraceLevel& level, const void* object, const char* method,
                            int count, ...)
{
    Trace& t = getInstance();
    if (!t.enter()) {
        return;
    }
    Session session(t);
    OSTARA_TRACE_GUARDED({
        unsigned int tid = KorrThread::getCurrentThreadId();
        std::size_t depth = t.stackOf(tid).size();
        t.dropIfEmpty(tid);
        TraceDataLogRecord record(dataLevel(level), generateIndent(depth + 1) + " d ");
        va_list args;
        va_start(args, count);
        copyArguments(record, count, args);
        va_end(args);
        t.dispatch(rd, record, object, method, tid, false);
    })
}

void Trace::traceMethodThrowing(const RasDescriptor& rd, const void* object, const char* method,
                                const KorrException* exception)
{
    Trace& t = getInstance();
    if (!t.enter()) {
        return;
    }
    Session session(t);
    OSTARA_TRACE_GUARDED({
        unsigned int tid = KorrThread::getCurrentThreadId();
        std::size_t depth = t.stackOf(tid).size();
        t.dropIfEmpty(tid);
        t.throwingSeen = true;
        TraceThrowingLogRecord record(LogLevel::FINE, generateIndent(depth + 1) + " ! ");
        record.setThrown(exception);
        t.dispatch(rd, record, object, method, tid, false);
    })
}

// The exit of a method that is not on top of the stack repairs the stack and says so, unless
// an exception was just traced: then the skipped exits are expected.
std::string Trace::exitPrefix(unsigned int threadId, const char* method)
{
    if (method == nullptr) {
        return " } ";
    }
    MethodStack& stack = stackOf(threadId);
    std::string prefix;
    if (!stack.empty() && stack.back() == method) {
        prefix = generateIndent(stack.size());
        stack.pop_back();
    } else {
        MethodStack copy = stack;
        bool found = false;
        while (!found && !stack.empty()) {
            found = stack.back() == method;
            stack.pop_back();
        }
        if (!throwingSeen && !copy.empty()) {
            prefix += found ? "*** Missing Trace::Exit " + copy.back() : std::string("*** Missing Trace::Entry ") + method;
            prefix += " *** ";
        }
        if (!found) {
            stack = copy;
        }
        prefix += generateIndent(stack.size() + 1);
        throwingSeen = false;
    }
    dropIfEmpty(threadId);
    return prefix + " } ";
}

void Trace::traceMethodExit(const RasDescriptor& rd, const void* object, const char* method,
                            const std::string* returnValue, const std::string& returnType)
{
    Trace& t = getInstance();
    if (!t.enter()) {
        return;
    }
    Session session(t);
    OSTARA_TRACE_GUARDED({
        unsigned int tid = KorrThread::getCurrentThreadId();
        TraceExitLogRecord record(LogLevel::FINE, t.exitPrefix(tid, method));
        if (returnValue) {
            record.setArguments(1, returnValue);
        }
        record.setMethodReturnType(returnType);
        t.dispatch(rd, record, object, method, tid, false);
    })
}
