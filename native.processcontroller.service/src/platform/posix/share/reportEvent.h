// Error events of the service program. On POSIX an event goes to syslog(3) with the source as
// its ident, facility daemon, priority LOG_ERR, and the text as the message: the ident names
// the source already, so "journalctl -t SOURCE" shows the service's events.
#ifndef OSTARAPCSERVICE_REPORTEVENT_H
#define OSTARAPCSERVICE_REPORTEVENT_H

#include <string>

// Writes one error event; failures are ignored.
void reportEvent(const std::string& source, const std::string& text);
// reportEvent(source, operation + " failed with error " + detail).
void reportFailure(const std::string& operation, const std::string& source, const std::string& detail);

#endif
