// Modules: the handle a module is known by, the reasons its entry routine is called with, and
// DisableThreadLibraryCalls.
//
// A module handle is the address at which the module is loaded, as on Windows. The stand-in's
// loader (the framework host, with dlopen) calls a module's entry routine for process attach and
// detach only; it never sends thread attach and detach, so switching them off only records it.
#pragma once

#include "standin/windef.h"

typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

// The reasons of a module's entry routine, BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID).
#define DLL_PROCESS_DETACH 0u
#define DLL_PROCESS_ATTACH 1u
#define DLL_THREAD_ATTACH 2u
#define DLL_THREAD_DETACH 3u

extern "C" {
// Nonzero when hLibModule is a loaded module; 0 with ERROR_MOD_NOT_FOUND otherwise.
BOOL DisableThreadLibraryCalls(HMODULE hLibModule);
}
