#include "ProcessSignalActionHandler.h"

#include <string>

#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("ProcessSignalActionHandler", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

} // namespace

void ProcessSignalActionHandler::defaultAction(int signal)
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        std::string text = "Received signal: " + std::to_string(signal);
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "defaultAction", 1, text.c_str());
    }
}
