// Writes trace records (never events) to the rotating trace files. The file set is opened by
// the first record that arrives, with a banner naming the date, process and build level;
// a file that cannot be created or written is reported once as an error event.
#ifndef OSTARA_TRACEFILELOGHANDLER_H
#define OSTARA_TRACEFILELOGHANDLER_H

#include <iosfwd>
#include <string>

#include "LogFileProperties.h"
#include "LogHandler.h"

class KorrException;
class KorrThreadSync;
class SecureFileHandler;

class TraceFileLogHandler : public LogHandler
{
public:
    explicit TraceFileLogHandler(const LogFileProperties& properties);
    ~TraceFileLogHandler() override;
    void publish(LogRecord& record) override;
    const LogFileProperties& getProperties() const { return properties; }

private:
    static std::string getBanner(const LogFileProperties& properties);
    void reportError(const char* key, const KorrException& e);

    LogFileProperties properties;
    SecureFileHandler* file;   // created by the first record
    KorrThreadSync* lock;
    bool errorReported;
};

// "TraceFileLogHandler " and the properties.
std::ostream& operator<<(std::ostream& out, const TraceFileLogHandler& handler);

#endif
