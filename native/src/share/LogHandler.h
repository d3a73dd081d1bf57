// Base of every sink that log and trace records are published to (event log, trace file,
// console). A handler serialises its own output; publish never throws.
#ifndef OSTARA_LOGHANDLER_H
#define OSTARA_LOGHANDLER_H

#include <iosfwd>

#include "LogLevel.h"

class LogRecord;

class LogHandler
{
public:
    explicit LogHandler(const LogLevel& level);
    virtual ~LogHandler();
    virtual void publish(LogRecord& record) = 0;
    const LogLevel& getLevel() const { return level; }

protected:
    LogLevel level;

private:
    LogHandler(const LogHandler&);
    LogHandler& operator=(const LogHandler&);
};

// "Level: " and the level's text form.
std::ostream& operator<<(std::ostream& out, const LogHandler& handler);

#endif
