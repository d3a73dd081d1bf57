// Method entry, exit, data and throwing records for every class, written through the
// class's descriptor. Callers test rd.isFlowOn() / rd.isOn(level) first, so that trace
// that is off costs one check. String arguments of the variadic forms are const char*.
// Records are built and dispatched one at a time under the trace lock; a trace call made
// while the same thread is already inside one (from a handler, say) writes nothing.
// Each thread's open methods are kept to indent its records and to report, in the trace
// itself, an exit without its entry or an entry without its exit.
#ifndef OSTARA_TRACE_H
#define OSTARA_TRACE_H

#include <cstdarg>
#include <map>
#include <string>
#include <vector>

#include "RasDescriptor.h"
#include "TraceLevel.h"

class KorrException;
class KorrThreadSync;
class LogRecord;

class Trace
{
public:
    static const int MAX_ARGUMENTS = 10;

    static void entry(const RasDescriptor& rd, const char* method);
    static void exit(const RasDescriptor& rd, const char* method);
    static void data(const RasDescriptor& rd, const TraceLevel& level, const char* method);
    static void throwing(const RasDescriptor& rd, const char* method, const KorrException* exception);

    static void traceMethodEntry(const RasDescriptor& rd, const void* object, const char* method, int count, ...);
    static void traceMethodData(const RasDescriptor& rd, const TraceLevel& level, const void* object,
                                const char* method, int count, ...);
    static void traceMethodExit(const RasDescriptor& rd, const void* object, const char* method,
                                const std::string* returnValue, const std::string& returnType);
    static void traceMethodThrowing(const RasDescriptor& rd, const void* object, const char* method,
                                    const KorrException* exception);

    // Pointer arguments are traced as "@%p".
    static std::string pointerText(const void* p);
    // An unqualified class name is shown under the trace-name prefix.
    static std::string getPrefixedClassName(const std::string& name);
    // One character per level of depth beyond the first ("-", every fifth "+"), then a blank.
    static std::string generateIndent(std::size_t depth);

private:
    typedef std::vector<std::string> MethodStack;
    class Session;

    Trace();
    Trace(const Trace&);
    Trace& operator=(const Trace&);
    ~Trace();
    static Trace& getInstance();

    bool enter();
    void leave();
    MethodStack& stackOf(unsigned int threadId);
    void dropIfEmpty(unsigned int threadId);
    std::string exitPrefix(unsigned int threadId, const char* method);
    void dispatch(const RasDescriptor& rd, LogRecord& record, const void* object, const char* method,
                  unsigned int threadId, bool flush);
    static void copyArguments(LogRecord& record, int count, va_list args);

    KorrThreadSync* lock;
    bool busy;
    std::map<unsigned int, MethodStack>* methodStacks;
    bool throwingSeen;
};

#endif
