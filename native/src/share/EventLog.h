// Static facade for operator-facing messages that were already formatted from a catalogue.
#ifndef OSTARA_EVENTLOG_H
#define OSTARA_EVENTLOG_H

#include <string>

class LogLevel;
class RasDescriptor;

class EventLog
{
public:
    static void infoNoFormat(const RasDescriptor& rd, const std::string& message);
    static void warningNoFormat(const RasDescriptor& rd, const std::string& message);
    static void errorNoFormat(const RasDescriptor& rd, const std::string& message);
    static void configNoFormat(const RasDescriptor& rd, const std::string& message);

private:
    EventLog();
    EventLog(const EventLog&);
    EventLog& operator=(const EventLog&);
    static void logNoFormat(const RasDescriptor& rd, const LogLevel& level, const std::string& message);

    static EventLog impl;
};

#endif
