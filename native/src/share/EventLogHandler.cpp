#include "EventLogHandler.h"

#include <cstdio>
#include <exception>
#include <sstream>

#include "BuildLevel.h"
#include "KorrException.h"
#include "KorrUtils.h"
#include "LogRecord.h"
#include "NLS.h"
#include "SecureFileHandler.h"

namespace {

const char* const MESSAGES = "com.quillon.velbrix.nativ.common.ZRKNVMessages";
const char* const ELEMENTS = "com.quillon.velbrix.nativ.common.ZRKNVElements";

// One write per message, so that lines of different threads do not interleave.
void toStandardError(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::string prefixed(const LogRecord& record)
{
    std::ostringstream line;
    line << NLS::format(ELEMENTS, "ZRKNV_EVENT_LOG_PREFIX") << ' ' << record << '\n';
    return line.str();
}

} // namespace

EventLogHandler::EventLogHandler(const LogFileProperties& p)
    : LogHandler(LogLevel::CONFIG), properties(p), file(nullptr), errorReported(false)
{
    SecureFileHandler* created = nullptr;
    try {
        created = new SecureFileHandler(p.getPattern(), p.getLimit(), p.getCount(), p.isAppend(), p.isCanRead(), 0);
        created->publish(getBanner(p));
        file = created;
    } catch (const KorrException& e) {
        delete created;
        toStandardError(NLS::format(MESSAGES, "ZRKNV0126_UNABLE_TO_CREATE_EVENT_LOG",
                                    KorrUtils::getParent(p.getPattern()), e.getMessage()) + "\n");
    }
}

EventLogHandler::~EventLogHandler() { delete file; }

// Each line ends with a line end; the write adds one more, leaving an empty line behind.
std::string EventLogHandler::getBanner(const LogFileProperties& p)
{
    std::string banner = NLS::format(ELEMENTS, "ZRKNV_START_LOG_BANNER1") + "\n";
    banner += NLS::format(ELEMENTS, "ZRKNV_BUILD_LEVEL", BuildLevel::getText()) + "\n";
    banner += NLS::format(ELEMENTS, "ZRKNV_PROPERTIES") + "\n";
    for (const auto& property : p.getApplicationProperties()) {
        banner += property.first + "=" + property.second + "\n";
    }
    banner += NLS::format(ELEMENTS, "ZRKNV_START_LOG_BANNER2") + "\n";
    return banner;
}

void EventLogHandler::publish(LogRecord& record)
{
    if (!(record.getLogLevel() >= level)) {
        return;
    }
    if (file == nullptr) {
        toStandardError(prefixed(record));
        return;
    }
    try {
        file->publish(record);
    } catch (const KorrException& e) {
        handlePublishError(record, KorrUtils::getParent(properties.getPattern()), e);
    } catch (const std::exception& e) {
        handlePublishError(record, KorrUtils::getParent(properties.getPattern()), KorrException(e.what()));
    }
}

void EventLogHandler::handlePublishError(const LogRecord& record, const std::string& directory, const KorrException& e)
{
    std::string text;
    if (!errorReported.exchange(true)) {
        text = NLS::format(MESSAGES, "ZRKNV0052_UNABLE_TO_WRITE_TO_EVENT_LOG", directory, e.getMessage()) + "\n";
    }
    toStandardError(text + prefixed(record));
}
