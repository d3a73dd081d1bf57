// Error events of the service program in the Windows event log: one event of type error,
// identifier 0xC0020001, category 0, with two strings, the source and the text, written under
// an event source named after the service.
#ifndef OSTARAPCSERVICE_REPORTEVENT_H
#define OSTARAPCSERVICE_REPORTEVENT_H

#include <string>

// Writes one error event; failures are ignored.
void reportEvent(const std::string& source, const std::string& text);
// reportEvent(source, operation + " failed with error " + detail).
void reportFailure(const std::string& operation, const std::string& source, const std::string& detail);

#endif
