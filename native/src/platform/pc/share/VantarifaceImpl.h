// The Windows binding to the queue manager's client library: LoadLibraryA of
// <root>\..\bin64\vexil, entry points through GetProcAddress.
#ifndef OSTARA_VANTARIFACEIMPL_H
#define OSTARA_VANTARIFACEIMPL_H

#include <windows.h>
// The system header's macro would replace KorrThread::STILL_ACTIVE and KorrProcess::STILL_ACTIVE.
#undef STILL_ACTIVE

#include "Vantariface.h"

class VantarifaceImpl : public Vantariface
{
public:
    VantarifaceImpl();
    ~VantarifaceImpl() override;
    void initialize(const std::string& productRoot) override;
    void cleanup() override;
    bool isLoaded() const { return module != nullptr; }
    // The library initialize() loads for a product root.
    static std::string libraryPath(const std::string& productRoot);

private:
    HMODULE module;
};

#endif
