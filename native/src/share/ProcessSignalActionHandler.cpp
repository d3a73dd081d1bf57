#include "ProcessSignalActionHandler.h"

#include <string>

#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("ProcessSignalActionHandler", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

} // namespace

void ProcessSignalActionHandler::defaultAction(int signal)
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        std::string text = "Received signal: " + std::to_string(signal);
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "defaultAction", 1, text.c_str());
    }
}
