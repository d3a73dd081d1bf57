// Method entry, exit, data and throwing records for every class, written through the
// class's descriptor. Callers test rd.isFlowOn() / rd.isOn(level) first, so that trace
// that is off costs one check. String arguments of the variadic forms are const char*.
#ifndef OSTARA_TRACE_H
#define OSTARA_TRACE_H

#include <string>

#include "RasDescriptor.h"
#include "TraceLevel.h"

class KorrException;

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
};

#endif
