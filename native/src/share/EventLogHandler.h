// Writes operator-facing messages (CONFIG and above) to the rotating event-log files, opened
// with a start banner. When the file cannot be created or written, every message goes to
// standard error behind the event prefix instead, and the first failure is described once.
#ifndef OSTARA_EVENTLOGHANDLER_H
#define OSTARA_EVENTLOGHANDLER_H

#include <atomic>
#include <string>

#include "LogFileProperties.h"
#include "LogHandler.h"

class KorrException;
class SecureFileHandler;

class EventLogHandler : public LogHandler
{
public:
    // Never throws: a file that cannot be created is reported on standard error.
    explicit EventLogHandler(const LogFileProperties& properties);
    ~EventLogHandler() override;
    void publish(LogRecord& record) override;

private:
    static std::string getBanner(const LogFileProperties& properties);
    void handlePublishError(const LogRecord& record, const std::string& directory, const KorrException& e);

    LogFileProperties properties;
    SecureFileHandler* file;   // null when it could not be created
    std::atomic<bool> errorReported;
};

#endif
