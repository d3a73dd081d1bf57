#include "Logger.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>

#include "LogHandler.h"
#include "LogRecord.h"

namespace {

// The registry and every logger's parent, child and handler lists. Its lock is a leaf: no
// other lock is taken and no handler is called while it is held. Never destroyed, because
// descriptors are built during static construction and used during static destruction.
struct Registry {
    std::mutex lock;
    std::map<std::string, Logger*> loggers;
};

Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

Logger::Logger(const std::string& n) : name(n), level(LogLevel::INFO), parent(nullptr) {}

// The root is the only logger ever deleted; its children must not keep a dangling parent, or
// the next record they log would follow it.
Logger::~Logger()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto self = r.loggers.find(name);
    if (self != r.loggers.end() && self->second == this) {
        r.loggers.erase(self);
    }
    for (auto& entry : r.loggers) {
        Logger* other = entry.second;
        other->childLoggers.remove(this);
        if (other->parent == this) {
            other->parent = parent;
        }
    }
}

Logger* Logger::getLogger(const std::string& name)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto found = r.loggers.find(name);
    if (found != r.loggers.end()) {
        return found->second;
    }
    Logger* logger = new Logger(name);
    if (!name.empty()) {
        for (auto& entry : r.loggers) {
            const std::string& key = entry.first;
            Logger* other = entry.second;
            if (startsWith(key, name + ".")) {
                other->parent = logger;
                logger->childLoggers.push_back(other);
            } else if (!key.empty() && startsWith(name, key + ".")) {
                logger->parent = other;
                other->childLoggers.push_back(logger);
            }
        }
        auto root = r.loggers.find("");
        if (logger->parent == nullptr && root != r.loggers.end()) {
            logger->parent = root->second;
            root->second->childLoggers.push_back(logger);
        }
        // A logger made after a level was set on its subtree gets the level the subtree has,
        // as it would have had it existed then: classes build their loggers on first use.
        if (logger->parent) {
            logger->level.store(logger->parent->level.load(std::memory_order_relaxed), std::memory_order_relaxed);
        }
    } else {
        for (auto& entry : r.loggers) {
            Logger* other = entry.second;
            if (other->parent == nullptr) {
                other->parent = logger;
                logger->childLoggers.push_back(other);
            }
        }
    }
    r.loggers[name] = logger;
    return logger;
}

void Logger::addHandler(LogHandler& handler)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    logHandlers.push_back(&handler);
}

void Logger::removeHandler(LogHandler& handler)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    logHandlers.remove(&handler);
}

void Logger::setLevel(const LogLevel& l)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    setLevelLocked(l.getValue());
}

void Logger::setLevelLocked(int value)
{
    level.store(value, std::memory_order_relaxed);
    for (Logger* child : childLoggers) {
        child->setLevelLocked(value);
    }
}

Logger* Logger::getParent() const
{
    std::lock_guard<std::mutex> hold(registry().lock);
    return parent;
}

std::vector<Logger*> Logger::getChildLoggers() const
{
    std::lock_guard<std::mutex> hold(registry().lock);
    return std::vector<Logger*>(childLoggers.begin(), childLoggers.end());
}

void Logger::log(LogRecord& record)
{
    if (!isLoggable(record.getLogLevel())) {
        return;
    }
    // Handlers are collected under the registry lock and called without it.
    LogHandler* fixed[8];
    std::vector<LogHandler*> more;
    std::size_t count = 0;
    {
        std::lock_guard<std::mutex> hold(registry().lock);
        for (const Logger* l = this; l; l = l->parent) {
            for (LogHandler* h : l->logHandlers) {
                if (count < 8) {
                    fixed[count] = h;
                } else {
                    more.push_back(h);
                }
                ++count;
            }
        }
    }
    if (count == 0) {
        if (record.getLogLevel() >= LogLevel::WARNING) {
            std::ostringstream line;
            line << record << "\n";
            const std::string& text = line.str();
            std::fwrite(text.data(), 1, text.size(), stderr);
            std::fflush(stderr);
        }
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        (i < 8 ? fixed[i] : more[i - 8])->publish(record);
    }
}

std::ostream& operator<<(std::ostream& out, const Logger& logger)
{
    std::lock_guard<std::mutex> hold(registry().lock);
    out << "Logger:" << logger.name << "(parent: " << static_cast<const void*>(logger.parent)
        << ", level: " << LogLevel(logger.level.load(std::memory_order_relaxed))
        << ", logHandlers.size(): " << logger.logHandlers.size()
        << ", childLoggers.size(): " << logger.childLoggers.size() << ")";
    return out;
}
