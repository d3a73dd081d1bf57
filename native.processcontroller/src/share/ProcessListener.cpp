#include "ProcessListener.h"

#include <iostream>

#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("ProcessListener", "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages");
    return *d;
}

} // namespace

ProcessListener::ProcessListener() : out(&std::cout) {}

ProcessListener::ProcessListener(std::ostream& target) : out(&target) {}

ProcessListener::ProcessListener(const ProcessListener& other) : ProcessStreamReaderListener(other), out(other.out) {}

ProcessListener& ProcessListener::operator=(const ProcessListener& other)
{
    out = other.out;
    return *this;
}

ProcessListener::~ProcessListener() {}

void ProcessListener::onData(std::string& data)
{
    if (rd().isFlowOn()) {
        std::string size = std::to_string(data.size());
        Trace::traceMethodEntry(rd(), this, "onData", 1, size.c_str());
    }
    out->write(data.data(), static_cast<std::streamsize>(data.size()));
    out->flush();
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), this, "onData", nullptr, "");
    }
}
