#include "RasDescriptorSlot.h"

// No lock, as making a descriptor may itself trace: two threads that race both make one and
// the loser deletes its own (a descriptor owns nothing but its names). The one kept is never
// deleted, since classes may trace until the very end of the process.
const RasDescriptor& RasDescriptorSlot::make() const
{
    const RasDescriptor* made =
        debug ? new RasDescriptor(className, messageBundle, nullptr) : new RasDescriptor(className, messageBundle);
    const RasDescriptor* expected = nullptr;
    if (descriptor.compare_exchange_strong(expected, made, std::memory_order_acq_rel, std::memory_order_acquire)) {
        return *made;
    }
    delete made;
    return *expected;
}
