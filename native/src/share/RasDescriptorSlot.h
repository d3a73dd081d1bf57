// Holds a class's trace descriptor, made on first use and kept for the life of the process.
// A slot at namespace scope is constant-initialised, so it works before any constructor has
// run; after the first use, finding the descriptor costs one load instead of a guard check.
#ifndef OSTARA_RASDESCRIPTORSLOT_H
#define OSTARA_RASDESCRIPTORSLOT_H

#include <atomic>
#include <cstddef>

#include "RasDescriptor.h"

class RasDescriptorSlot
{
public:
    // The descriptor takes the logger named after the class.
    constexpr RasDescriptorSlot(const char* className, const char* messageBundle)
        : className(className), messageBundle(messageBundle), debug(false), descriptor(nullptr)
    {
    }
    // A debug descriptor (no logger), with or without a message catalogue.
    constexpr RasDescriptorSlot(const char* className, const char* messageBundle, std::nullptr_t)
        : className(className), messageBundle(messageBundle), debug(true), descriptor(nullptr)
    {
    }
    constexpr RasDescriptorSlot(const char* className, std::nullptr_t)
        : className(className), messageBundle(""), debug(true), descriptor(nullptr)
    {
    }
    RasDescriptorSlot(const RasDescriptorSlot&) = delete;
    RasDescriptorSlot& operator=(const RasDescriptorSlot&) = delete;

    const RasDescriptor& get() const
    {
        const RasDescriptor* d = descriptor.load(std::memory_order_acquire);
        return d ? *d : make();
    }

private:
    const RasDescriptor& make() const;

    const char* className;
    const char* messageBundle;
    bool debug;
    mutable std::atomic<const RasDescriptor*> descriptor;
};

#endif
