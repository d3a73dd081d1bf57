// The trace identity of a class: its name, its message catalogue and its logger.
// A descriptor without a logger is a debug descriptor, used by the diagnostics classes
// themselves so that their own tracing never re-enters the logger tree.
// isOn/isFlowOn take no lock: every traced method asks them, so a check that is off costs
// a few loads.
#ifndef OSTARA_RASDESCRIPTOR_H
#define OSTARA_RASDESCRIPTOR_H

#include <string>

#include "LogLevel.h"
#include "Logger.h"
#include "RAS.h"
#include "TraceLevel.h"

class RasDescriptor
{
public:
    RasDescriptor();
    // These two take the logger named after the class.
    RasDescriptor(const std::string& className, const std::string& messageBundle);
    explicit RasDescriptor(const std::string& className);
    // These two take the logger given; a null one makes a debug descriptor.
    RasDescriptor(const std::string& className, const std::string& messageBundle, Logger* logger);
    RasDescriptor(const std::string& className, Logger* logger);
    virtual ~RasDescriptor();

    std::string getClassName() const { return className; }
    std::string getMessageBundle() const { return messageBundle; }
    Logger* getLogger() const { return logger; }
    bool isDebug() const { return logger == nullptr; }
    bool isOn(const TraceLevel& level) const
    {
        if (logger == nullptr) {
            return RAS::isDebugOn(level);
        }
        if (!RAS::isTraceAvailable()) {
            return false;
        }
        switch (level.getValue()) {
        case TraceLevel::FLOW: return logger->isLoggable(LogLevel::FINE);
        case TraceLevel::MODERATE: return logger->isLoggable(LogLevel::FINER);
        case TraceLevel::VERBOSE: return logger->isLoggable(LogLevel::FINEST);
        default: return false;
        }
    }
    bool isFlowOn() const { return isOn(TraceLevel::FLOW); }

private:
    Logger* logger;
    std::string className;
    std::string messageBundle;
};

#endif
