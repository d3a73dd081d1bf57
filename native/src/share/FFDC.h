// First-failure data capture: a report file (or, failing that, an error event) for a
// condition that should never happen, naming the class, method and probe of the call site.
// Reports go to <log path>/ffdc/FFDC.<time>.<sequence>.<process id>.log, private to the owner.
// capture() never throws. Context values are C strings; a null one reads "null". One probe
// reports at most 10 times a minute; the next report it writes counts those it skipped.
#ifndef OSTARA_FFDC_H
#define OSTARA_FFDC_H

#include <string>

class KorrException;
class RasDescriptor;

class FFDC
{
public:
    static void capture(const std::string& className, const std::string& methodName, const std::string& probeId,
                        const KorrException* cause);
    static void capture(const RasDescriptor& rd, const std::string& methodName, const std::string& probeId,
                        const KorrException* cause);
    static void capture(const std::string& className, const void* object, const std::string& methodName,
                        const std::string& probeId, const KorrException* cause, int count = 0,
                        const char* v0 = nullptr, const char* v1 = nullptr, const char* v2 = nullptr,
                        const char* v3 = nullptr);
    static void capture(const RasDescriptor& rd, const void* object, const std::string& methodName,
                        const std::string& probeId, const KorrException* cause, int count = 0,
                        const char* v0 = nullptr, const char* v1 = nullptr, const char* v2 = nullptr,
                        const char* v3 = nullptr);

    static FFDC& getInstance();

#define OSTARA_FFDC_PROBE(n) \
    static std::string PROBE_##n() { return "FFDC_" #n; }
    OSTARA_FFDC_PROBE(001) OSTARA_FFDC_PROBE(002) OSTARA_FFDC_PROBE(003) OSTARA_FFDC_PROBE(004)
    OSTARA_FFDC_PROBE(005) OSTARA_FFDC_PROBE(006) OSTARA_FFDC_PROBE(007) OSTARA_FFDC_PROBE(008)
    OSTARA_FFDC_PROBE(009) OSTARA_FFDC_PROBE(010) OSTARA_FFDC_PROBE(011) OSTARA_FFDC_PROBE(012)
    OSTARA_FFDC_PROBE(013) OSTARA_FFDC_PROBE(014) OSTARA_FFDC_PROBE(015) OSTARA_FFDC_PROBE(016)
    OSTARA_FFDC_PROBE(017) OSTARA_FFDC_PROBE(018) OSTARA_FFDC_PROBE(019) OSTARA_FFDC_PROBE(020)
    OSTARA_FFDC_PROBE(021) OSTARA_FFDC_PROBE(022) OSTARA_FFDC_PROBE(023) OSTARA_FFDC_PROBE(024)
    OSTARA_FFDC_PROBE(025) OSTARA_FFDC_PROBE(026) OSTARA_FFDC_PROBE(027) OSTARA_FFDC_PROBE(028)
    OSTARA_FFDC_PROBE(029) OSTARA_FFDC_PROBE(030) OSTARA_FFDC_PROBE(031) OSTARA_FFDC_PROBE(032)
    OSTARA_FFDC_PROBE(033) OSTARA_FFDC_PROBE(034) OSTARA_FFDC_PROBE(035) OSTARA_FFDC_PROBE(036)
    OSTARA_FFDC_PROBE(037) OSTARA_FFDC_PROBE(038) OSTARA_FFDC_PROBE(039) OSTARA_FFDC_PROBE(040)
    OSTARA_FFDC_PROBE(041) OSTARA_FFDC_PROBE(042) OSTARA_FFDC_PROBE(043) OSTARA_FFDC_PROBE(044)
    OSTARA_FFDC_PROBE(045) OSTARA_FFDC_PROBE(046) OSTARA_FFDC_PROBE(047) OSTARA_FFDC_PROBE(048)
    OSTARA_FFDC_PROBE(049)
#undef OSTARA_FFDC_PROBE

private:
    FFDC();
    FFDC(const FFDC&);
    FFDC& operator=(const FFDC&);
    void internalCapture(const std::string& className, const void* object, const std::string& methodName,
                         const std::string& probeId, const KorrException* cause, int count,
                         const char* const* values);

    long captureCount;       // under the lock; numbers the reports of this process
    static bool writingFile; // under the lock; set while a report file is being written
    static FFDC impl;
};

#endif
