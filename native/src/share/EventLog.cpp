#include "EventLog.h"

#include <cstdio>
#include <sstream>

#include "FFDC.h"
#include "KorrException.h"
#include "KorrThread.h"
#include "LogLevel.h"
#include "LogRecord.h"
#include "Logger.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {
const RasDescriptorSlot rdSlot("EventLog", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }
} // namespace

EventLog EventLog::impl;

EventLog::EventLog() {}

EventLog::EventLog(const EventLog&)
{
    KorrException e("EventLog copy constructor should never be called!");
    FFDC::capture(rd(), this, "EventLog", FFDC::PROBE_001(), &e);
}

EventLog& EventLog::operator=(const EventLog&)
{
    KorrException e("EventLog assignment operator should never be called!");
    FFDC::capture(rd(), this, "operator=", FFDC::PROBE_002(), &e);
    return *this;
}

void EventLog::infoNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, LogLevel::INFO, m); }
void EventLog::warningNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, LogLevel::WARNING, m); }
void EventLog::errorNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, LogLevel::SEVERE, m); }
void EventLog::configNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, LogLevel::CONFIG, m); }

// The event goes to the class's logger, which hands it to the handlers of the logger tree
// (the event-log file, the console; WARNING and above to standard error while there are
// none); a debug descriptor's events go to standard output.
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
