// A named node of the logger tree. Names are dotted ("a.b.c" lies under "a.b" and "a"; every
// logger lies under the root ""). A record offered to a logger at or above its level reaches
// the handlers of that logger and of all its ancestors; with no handler at all, WARNING and
// above go to standard error. Loggers live until process end, except the root, which the
// diagnostics set-up deletes at shutdown.
#ifndef OSTARA_LOGGER_H
#define OSTARA_LOGGER_H

#include <atomic>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

#include "LogLevel.h"

class LogHandler;
class LogRecord;

class Logger
{
public:
    // The logger of that name, created on first use. Safe from any thread, also during
    // static construction and destruction.
    static Logger* getLogger(const std::string& name);
    virtual ~Logger();

    // Appends (duplicates allowed) / removes every occurrence.
    void addHandler(LogHandler& handler);
    void removeHandler(LogHandler& handler);
    // Sets this logger and every descendant.
    void setLevel(const LogLevel& level);
    // Lock-free: every trace check of every class ends here.
    bool isLoggable(const LogLevel& l) const { return l.getValue() >= level.load(std::memory_order_relaxed); }
    LogLevel getLevel() const { return LogLevel(level.load(std::memory_order_relaxed)); }
    const std::string& getName() const { return name; }
    Logger* getParent() const;
    std::vector<Logger*> getChildLoggers() const;
    void log(LogRecord& record);

protected:
    explicit Logger(const std::string& name);

private:
    Logger(const Logger&);
    Logger& operator=(const Logger&);
    void setLevelLocked(int value);

    friend std::ostream& operator<<(std::ostream& out, const Logger& logger);

    const std::string name;
    std::list<LogHandler*> logHandlers;    // not owned
    std::atomic<int> level;
    Logger* parent;
    std::list<Logger*> childLoggers;       // not owned
};

std::ostream& operator<<(std::ostream& out, const Logger& logger);

#endif
