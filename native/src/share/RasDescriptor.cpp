#include "RasDescriptor.h"

// Loggers arrive with the logger tree; until then every descriptor is a debug descriptor
// and every trace level is off.
RasDescriptor::RasDescriptor() : logger(nullptr) {}

RasDescriptor::RasDescriptor(const std::string& name, const std::string& bundle)
    : logger(nullptr), className(name), messageBundle(bundle)
{
}

RasDescriptor::RasDescriptor(const std::string& name) : logger(nullptr), className(name) {}

RasDescriptor::RasDescriptor(const std::string& name, const std::string& bundle, Logger* l)
    : logger(l), className(name), messageBundle(bundle)
{
}

RasDescriptor::RasDescriptor(const std::string& name, Logger* l) : logger(l), className(name) {}

RasDescriptor::~RasDescriptor() {}

bool RasDescriptor::isOn(const TraceLevel&) const { return false; }
