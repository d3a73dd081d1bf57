// The queue-manager binding on POSIX: dlopen of <root>/../bin64/libvexil.so, entry points
// through dlsym, error texts from dlerror.
#ifndef OSTARA_VANTARIFACEIMPL_H
#define OSTARA_VANTARIFACEIMPL_H

#include "Vantariface.h"

class VantarifaceImpl : public Vantariface
{
public:
    VantarifaceImpl();
    ~VantarifaceImpl() override;

    void initialize(const std::string& productRoot) override;
    void cleanup() override;
    bool isLoaded() const { return module != nullptr; }

    // The full path of the library for a product root.
    static std::string libraryPath(const std::string& productRoot);

private:
    void* module;
};

#endif
