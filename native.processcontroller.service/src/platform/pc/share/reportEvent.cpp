#include "reportEvent.h"

#include <windows.h>

void reportEvent(const std::string& source, const std::string& text)
{
    HANDLE eventSource = ::RegisterEventSourceA(nullptr, source.c_str());
    if (!eventSource) {
        return;
    }
    const char* strings[2] = {source.c_str(), text.c_str()};
    ::ReportEventA(eventSource, EVENTLOG_ERROR_TYPE, 0, 0xC0020001, nullptr, 2, 0, strings, nullptr);
    ::DeregisterEventSource(eventSource);
}

void reportFailure(const std::string& operation, const std::string& source, const std::string& detail)
{
    reportEvent(source, operation + " failed with error " + detail);
}
