// Whether a test program built for Windows runs under Wine rather than on Windows. Wine is an
// independent Win32 implementation, and on a few behaviours that tests pin it differs from
// Windows; such a test checks the Windows behaviour everywhere else and says, where it asks this,
// what Wine does instead (platform/wine-notes.md lists the cases).
#pragma once

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zntr::test {

inline bool RunningUnderWine() {
#if defined(_WIN32)
    // Wine's ntdll exports its version; Windows' has no such function.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

}  // namespace zntr::test
