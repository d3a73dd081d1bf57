#include "Trace.h"

#include <cstdio>

// The record-building machinery arrives with the logger tree; until then trace writes nothing.
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

void Trace::traceMethodEntry(const RasDescriptor&, const void*, const char*, int, ...) {}
void Trace::traceMethodData(const RasDescriptor&, const TraceLevel&, const void*, const char*, int, ...) {}
void Trace::traceMethodExit(const RasDescriptor&, const void*, const char*, const std::string*, const std::string&) {}
void Trace::traceMethodThrowing(const RasDescriptor&, const void*, const char*, const KorrException*) {}

std::string Trace::pointerText(const void* p)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "@%p", p);
    return buffer;
}
