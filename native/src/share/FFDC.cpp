#include "FFDC.h"

#include <cstdio>

#include "KorrException.h"
#include "RasDescriptor.h"

FFDC FFDC::impl;

FFDC::FFDC() {}
FFDC::FFDC(const FFDC&) {}
FFDC& FFDC::operator=(const FFDC&) { return *this; }

FFDC& FFDC::getInstance() { return impl; }

void FFDC::capture(const std::string& className, const std::string& methodName, const std::string& probeId,
                   const KorrException* cause)
{
    impl.internalCapture(className, nullptr, methodName, probeId, cause, 0, nullptr);
}

void FFDC::capture(const RasDescriptor& rd, const std::string& methodName, const std::string& probeId,
                   const KorrException* cause)
{
    impl.internalCapture(rd.getClassName(), nullptr, methodName, probeId, cause, 0, nullptr);
}

void FFDC::capture(const std::string& className, const void* object, const std::string& methodName,
                   const std::string& probeId, const KorrException* cause, int count, const char* v0,
                   const char* v1, const char* v2, const char* v3)
{
    const char* values[] = {v0, v1, v2, v3};
    impl.internalCapture(className, object, methodName, probeId, cause, count > 4 ? 4 : count, values);
}

void FFDC::capture(const RasDescriptor& rd, const void* object, const std::string& methodName,
                   const std::string& probeId, const KorrException* cause, int count, const char* v0,
                   const char* v1, const char* v2, const char* v3)
{
    capture(rd.getClassName(), object, methodName, probeId, cause, count, v0, v1, v2, v3);
}

// Report files arrive with the diagnostics files; until then the report goes to standard error.
void FFDC::internalCapture(const std::string& className, const void*, const std::string& methodName,
                           const std::string& probeId, const KorrException* cause, int, const char* const*)
{
    std::fprintf(stderr, "FFDC %s %s %s %s\n", className.c_str(), methodName.c_str(), probeId.c_str(),
                 cause ? cause->toString().c_str() : "null");
}
