#include "ConsoleLogHandler.h"

#include <cstdio>

#include "KorrThreadSyncImpl.h"
#include "LogRecord.h"
#include "Synchronize.h"

ConsoleLogHandler::ConsoleLogHandler() : LogHandler(LogLevel::CONFIG), lock(new KorrThreadSyncImpl()) {}

ConsoleLogHandler::~ConsoleLogHandler() { delete lock; }

void ConsoleLogHandler::publish(LogRecord& record)
{
    if (!(record.getLogLevel() >= level)) {
        return;
    }
    std::string text = record.getMessage() + "\n";
    std::FILE* stream = record.getLogLevel() >= LogLevel::WARNING ? stderr : stdout;
    Synchronize hold(lock);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}
