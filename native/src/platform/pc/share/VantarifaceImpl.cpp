#include "VantarifaceImpl.h"

#include "KorrException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("VantarifaceImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

[[noreturn]] void fail(const char* method, const std::string& message)
{
    KorrException e(message);
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    throw e;
}

std::string lastError() { return KorrUtils::getLastErrorMessage(static_cast<int>(GetLastError())); }

} // namespace

Vantariface* Vantariface::newInstance() { return new VantarifaceImpl(); }

VantarifaceImpl::VantarifaceImpl() : module(nullptr) {}

// The library is deliberately not unloaded here: its owner calls cleanup().
VantarifaceImpl::~VantarifaceImpl() {}

std::string VantarifaceImpl::libraryPath(const std::string& productRoot)
{
    const std::string sep = KorrUtils::separator();
    return productRoot + sep + ".." + sep + "bin64" + sep + "vexil";
}

void VantarifaceImpl::initialize(const std::string& productRoot)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "initialize", 1, productRoot.c_str());
    }
    if (module) {
        return;
    }
    if (productRoot.empty()) {
        fail("initialize", NLS::format(rd(), "ZRKNV0154_PRODUCT_ROOT_EMPTY"));
    }
    std::string path = libraryPath(productRoot);
    // No error box for a missing or broken library: the failure is ours to report.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    module = LoadLibraryA(path.c_str());
    std::string error = module ? std::string() : lastError();
    SetErrorMode(previous);
    if (!module) {
        fail("initialize", NLS::format(rd(), "ZRKNV0151_LOADLIBRARY_ERROR", path, error));
    }
    // Once loaded the library stays loaded until cleanup(), even when an entry point is
    // missing, so later calls fail cleanly instead of loading it again.
    connectEntry = reinterpret_cast<ConnectFunction>(reinterpret_cast<void*>(GetProcAddress(module, "TARNCONN")));
    if (!connectEntry) {
        fail("initialize", NLS::format(rd(), "ZRKNV0152_GETPROCADDRESS_TARNCONN_ERROR", lastError()));
    }
    disconnectEntry = reinterpret_cast<DisconnectFunction>(reinterpret_cast<void*>(GetProcAddress(module, "TARNDISC")));
    if (!disconnectEntry) {
        fail("initialize", NLS::format(rd(), "ZRKNV0153_GETPROCADDRESS_TARNDISC_ERROR", lastError()));
    }
    if (rd().isFlowOn()) {
        Trace::exit(rd(), "initialize");
    }
}

void VantarifaceImpl::cleanup()
{
    if (!module) {
        return;
    }
    if (!FreeLibrary(module)) {
        fail("cleanup", NLS::format(rd(), "ZRKNV0158_FREELIBRARY_ERROR", lastError()));
    }
    module = nullptr;
    connectEntry = nullptr;
    disconnectEntry = nullptr;
}
