#include "EventLog.h"

#include <cstdio>
#include <sstream>

#include "KorrThread.h"
#include "LogLevel.h"
#include "LogRecord.h"
#include "Logger.h"
#include "RasDescriptor.h"
#include "Trace.h"

void EventLog::infoNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, LogLevel::INFO, m); }
void EventLog::warningNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, LogLevel::WARNING, m); }
void EventLog::errorNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, LogLevel::SEVERE, m); }
void EventLog::configNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, LogLevel::CONFIG, m); }

// The event goes to the class's logger, which hands it to the handlers of the logger tree
// (and WARNING and above to standard error while there are none); a debug descriptor's
// events go to standard output.
void EventLog::logNoFormat(const RasDescriptor& rd, const LogLevel& level, const std::string& message)
{
    LogRecord record(level, LogRecordType::EVENT, message);
    record.setSourceMethodName("none");
    record.setSourceClassName(rd.getClassName());
    record.setThreadId(KorrThread::getCurrentThreadId());
    Logger* logger = rd.getLogger();
    if (logger) {
        logger->log(record);
    } else {
        std::ostringstream line;
        line << "DEBUG: " << record << "\n";
        const std::string& text = line.str();
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    if (rd.isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd, TraceLevel::MODERATE, nullptr, "log", 1, message.c_str());
    }
}
