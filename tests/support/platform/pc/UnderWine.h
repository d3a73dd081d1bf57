// Whether the tests run under Wine, which enforces no access list, no mandatory lock and no
// Ctrl-Break: tests that need those skip there and run for real on Windows.
#ifndef OSTARA_TEST_UNDERWINE_H
#define OSTARA_TEST_UNDERWINE_H

#include <windows.h>

inline bool underWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

#endif
