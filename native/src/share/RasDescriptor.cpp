#include "RasDescriptor.h"

RasDescriptor::RasDescriptor() : logger(nullptr) {}

RasDescriptor::RasDescriptor(const std::string& name, const std::string& bundle)
    : logger(Logger::getLogger(name)), className(name), messageBundle(bundle)
{
}

RasDescriptor::RasDescriptor(const std::string& name) : logger(Logger::getLogger(name)), className(name) {}

RasDescriptor::RasDescriptor(const std::string& name, const std::string& bundle, Logger* l)
    : logger(l), className(name), messageBundle(bundle)
{
}

RasDescriptor::RasDescriptor(const std::string& name, Logger* l) : logger(l), className(name) {}

RasDescriptor::~RasDescriptor() {}
