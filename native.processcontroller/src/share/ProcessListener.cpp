#include "ProcessListener.h"

#include <iostream>

#include "OutputLogFile.h"
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

ProcessListener::ProcessListener() : out(&std::cout), file(nullptr) {}

ProcessListener::ProcessListener(std::ostream& target) : out(&target), file(nullptr) {}

ProcessListener::ProcessListener(OutputLogFile& target) : out(nullptr), file(&target) {}

ProcessListener::ProcessListener(const ProcessListener& other)
    : ProcessStreamReaderListener(other), out(other.out), file(other.file)
{
}

ProcessListener& ProcessListener::operator=(const ProcessListener& other)
{
    out = other.out;
    file = other.file;
    return *this;
}

ProcessListener::~ProcessListener() {}

void ProcessListener::onData(std::string& data)
{
    if (rd().isFlowOn()) {
        std::string size = std::to_string(data.size());
        Trace::traceMethodEntry(rd(), this, "onData", 1, size.c_str());
    }
    if (file) {
        file->write(data.data(), data.size());
    } else {
        out->write(data.data(), static_cast<std::streamsize>(data.size()));
        out->flush();
    }
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), this, "onData", nullptr, "");
    }
}
