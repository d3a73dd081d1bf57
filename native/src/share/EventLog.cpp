#include "EventLog.h"

#include <cstdio>

#include "RasDescriptor.h"

// Until the event-log handlers exist, events go to standard error with their class and
// indicator, so that nothing an operator must see is lost.
void EventLog::infoNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, 'I', m); }
void EventLog::warningNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, 'W', m); }
void EventLog::errorNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, 'E', m); }
void EventLog::configNoFormat(const RasDescriptor& rd, const std::string& m) { logNoFormat(rd, 'C', m); }

void EventLog::logNoFormat(const RasDescriptor& rd, char indicator, const std::string& message)
{
    std::fprintf(stderr, "EVENT %s %c %s\n", rd.getClassName().c_str(), indicator, message.c_str());
}
