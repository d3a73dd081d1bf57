// Error events of the service program, written under the service's name as source: in the
// Windows event log (type error, identifier 0xC0020001, the source and the text as its two
// strings), or to syslog(3) with the source as ident ("journalctl -t SOURCE" shows them).
#ifndef OSTARAPCSERVICE_REPORTEVENT_H
#define OSTARAPCSERVICE_REPORTEVENT_H

#include <string>

// Writes one error event; failures are ignored.
void reportEvent(const std::string& source, const std::string& text);
// reportEvent(source, operation + " failed with error " + detail).
void reportFailure(const std::string& operation, const std::string& source, const std::string& detail);

#endif
