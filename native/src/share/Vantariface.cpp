#include "Vantariface.h"

#include "KorrException.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("Vantariface", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

KorrException notInitialized(const char* method, const char* key)
{
    KorrException e(NLS::format(rd(), key));
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    return e;
}

} // namespace

Vantariface::Vantariface() : connection(0), connectEntry(nullptr), disconnectEntry(nullptr) {}

Vantariface::~Vantariface() {}

void Vantariface::connect(const std::string& queueManagerName, long* completionCode, long* reason)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "connect", 1, queueManagerName.c_str());
    }
    if (!connectEntry) {
        throw notInitialized("connect", "ZRKNV0156_TARNCONN_NOT_INITIALIZED");
    }
    std::int32_t cc = static_cast<std::int32_t>(*completionCode);
    std::int32_t rc = static_cast<std::int32_t>(*reason);
    connectEntry(queueManagerName.c_str(), &connection, &cc, &rc);
    *completionCode = cc;
    *reason = rc;
    if (rd().isFlowOn()) {
        std::string result = std::to_string(cc) + "/" + std::to_string(rc);
        Trace::traceMethodExit(rd(), this, "connect", &result, "completion/reason");
    }
}

void Vantariface::disconnect(long* completionCode, long* reason)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "disconnect", 0);
    }
    if (!disconnectEntry) {
        throw notInitialized("disconnect", "ZRKNV0157_TARNDISC_NOT_INITIALIZED");
    }
    std::int32_t cc = static_cast<std::int32_t>(*completionCode);
    std::int32_t rc = static_cast<std::int32_t>(*reason);
    disconnectEntry(&connection, &cc, &rc);
    *completionCode = cc;
    *reason = rc;
    if (rd().isFlowOn()) {
        Trace::exit(rd(), "disconnect");
    }
}
