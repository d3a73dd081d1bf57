#include "VantarifaceImpl.h"

#include <dlfcn.h>

#include "KorrException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("VantarifaceImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

std::string dlText()
{
    const char* text = dlerror();
    return text ? text : "unknown error";
}

[[noreturn]] void fail(const char* method, const std::string& message)
{
    KorrException e(message);
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    throw e;
}

} // namespace

Vantariface* Vantariface::newInstance() { return new VantarifaceImpl(); }

VantarifaceImpl::VantarifaceImpl() : module(nullptr) {}

// The library is deliberately not unloaded here: its owner calls cleanup().
VantarifaceImpl::~VantarifaceImpl() {}

std::string VantarifaceImpl::libraryPath(const std::string& productRoot)
{
    const std::string sep = KorrUtils::separator();
    return productRoot + sep + ".." + sep + "bin64" + sep + "libvexil.so";
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
    dlerror();
    module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        fail("initialize", NLS::format(rd(), "ZRKNV0151_LOADLIBRARY_ERROR", path, dlText()));
    }
    // Once loaded the library stays loaded until cleanup(), even when an entry point is
    // missing, so later calls fail cleanly instead of loading it again.
    dlerror();
    connectEntry = reinterpret_cast<ConnectFunction>(dlsym(module, "TARNCONN"));
    if (!connectEntry) {
        fail("initialize", NLS::format(rd(), "ZRKNV0152_GETPROCADDRESS_TARNCONN_ERROR", dlText()));
    }
    dlerror();
    disconnectEntry = reinterpret_cast<DisconnectFunction>(dlsym(module, "TARNDISC"));
    if (!disconnectEntry) {
        fail("initialize", NLS::format(rd(), "ZRKNV0153_GETPROCADDRESS_TARNDISC_ERROR", dlText()));
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
    dlerror();
    if (dlclose(module) != 0) {
        fail("cleanup", NLS::format(rd(), "ZRKNV0158_FREELIBRARY_ERROR", dlText()));
    }
    module = nullptr;
    connectEntry = nullptr;
    disconnectEntry = nullptr;
}
