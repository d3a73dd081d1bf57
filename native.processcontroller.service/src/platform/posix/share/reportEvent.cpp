#include "reportEvent.h"

#include <mutex>
#include <syslog.h>

namespace {

// openlog keeps the ident pointer and is process-wide: one event at a time.
std::mutex eventLock;

} // namespace

void reportEvent(const std::string& source, const std::string& text)
{
    std::lock_guard<std::mutex> hold(eventLock);
    ::openlog(source.c_str(), LOG_PID, LOG_DAEMON);
    // The ident already names the source (journalctl -t SOURCE): the line is the text alone.
    ::syslog(LOG_ERR, "%s", text.c_str());
    ::closelog();
}

void reportFailure(const std::string& operation, const std::string& source, const std::string& detail)
{
    reportEvent(source, operation + " failed with error " + detail);
}
