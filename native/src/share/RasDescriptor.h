// The trace identity of a class: its name, its message catalogue and its logger.
// A descriptor without a logger is a debug descriptor, used by the diagnostics classes
// themselves so that their own tracing never re-enters the logger tree.
#ifndef OSTARA_RASDESCRIPTOR_H
#define OSTARA_RASDESCRIPTOR_H

#include <string>

#include "TraceLevel.h"

class Logger;

class RasDescriptor
{
public:
    RasDescriptor();
    RasDescriptor(const std::string& className, const std::string& messageBundle);
    explicit RasDescriptor(const std::string& className);
    RasDescriptor(const std::string& className, const std::string& messageBundle, Logger* logger);
    RasDescriptor(const std::string& className, Logger* logger);
    virtual ~RasDescriptor();

    std::string getClassName() const { return className; }
    std::string getMessageBundle() const { return messageBundle; }
    Logger* getLogger() const { return logger; }
    bool isDebug() const { return logger == nullptr; }
    bool isOn(const TraceLevel& level) const;
    bool isFlowOn() const { return isOn(TraceLevel::FLOW); }

private:
    Logger* logger;
    std::string className;
    std::string messageBundle;
};

#endif
