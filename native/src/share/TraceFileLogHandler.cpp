#include "TraceFileLogHandler.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <ostream>

#include "BuildLevel.h"
#include "EventLog.h"
#include "KorrException.h"
#include "KorrProcess.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "LogRecord.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "SecureFileHandler.h"
#include "Synchronize.h"

// Records arrive under the trace lock, so nothing here traces (it would write nothing).

namespace {

const char* const ELEMENTS = "com.quillon.velbrix.nativ.common.ZRKNVElements";

// The descriptor of this handler's error events.
const RasDescriptor& eventRd()
{
    static const RasDescriptor* d =
        new RasDescriptor("TraceFileLogHandler", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

// The C library's asctime form, "Www Mmm dd hh:mm:ss yyyy" and a line feed, without its
// shared buffer.
std::string asctimeText(const std::tm& t)
{
    static const char* const DAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", DAYS[(t.tm_wday % 7 + 7) % 7],
                  MONTHS[(t.tm_mon % 12 + 12) % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 1900 + t.tm_year);
    return buffer;
}

} // namespace

TraceFileLogHandler::TraceFileLogHandler(const LogFileProperties& p)
    : LogHandler(LogLevel::FINEST), properties(p), file(nullptr), lock(new KorrThreadSyncImpl()),
      errorReported(false)
{
}

TraceFileLogHandler::~TraceFileLogHandler()
{
    delete file;
    delete lock;
}

// Made when the file set opens, not before: most processes never trace, and the date it
// names is then the time tracing began. BUILD_LEVEL and PROPERTIES are looked up as they are, without the catalogue prefix, and so
// read as their bare keys.
std::string TraceFileLogHandler::getBanner(const LogFileProperties& p)
{
    std::string text = NLS::format(ELEMENTS, "ZRKNV_DATE", asctimeText(KorrUtils::localTime(std::time(nullptr)))) + "\n";
    text += NLS::format(ELEMENTS, "ZRKNV_PROCESS_ID", std::to_string(KorrProcess::getCurrentProcessId())) + "\n\n";
    text += NLS::format(ELEMENTS, "BUILD_LEVEL", BuildLevel::getText()) + "\n";
    text += NLS::format(ELEMENTS, "PROPERTIES") + "\n";
    for (const auto& property : p.getApplicationProperties()) {
        text += property.first + "=" + property.second + "\n";
    }
    return text + "\n" + LogRecord::getLogRecordOutputHeader();
}

void TraceFileLogHandler::publish(LogRecord& record)
{
    Synchronize hold(lock);
    bool opened = false;
    if (file == nullptr) {
        try {
            file = new SecureFileHandler(properties.getPattern(), properties.getLimit(), properties.getCount(),
                                         properties.isAppend(), properties.isCanRead(), 0);
            opened = true;
        } catch (const KorrException& e) {
            reportError("ZRKNV0127_UNABLE_TO_CREATE_TRACE", e);
            return;   // tried again with the next record
        }
    }
    try {
        if (opened) {
            file->publish(getBanner(properties));
        }
        if (record.getType() != LogRecordType::EVENT) {
            file->publish(record);
        }
    } catch (const KorrException& e) {
        reportError("ZRKNV0053_UNABLE_TO_WRITE_TO_TRACE", e);
    } catch (const std::exception& e) {
        reportError("ZRKNV0053_UNABLE_TO_WRITE_TO_TRACE", KorrException(e.what()));
    }
}

// The flag is set first: the event comes back to this handler on the same thread.
void TraceFileLogHandler::reportError(const char* key, const KorrException& e)
{
    if (errorReported) {
        return;
    }
    errorReported = true;
    EventLog::errorNoFormat(eventRd(), NLS::format(eventRd(), key, KorrUtils::getParent(properties.getPattern()),
                                                   e.getMessage()));
}

std::ostream& operator<<(std::ostream& out, const TraceFileLogHandler& handler)
{
    return out << "TraceFileLogHandler " << handler.getProperties();
}
