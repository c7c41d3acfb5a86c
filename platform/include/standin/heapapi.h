// The process heap. HeapAlloc with HEAP_ZERO_MEMORY returns zero-filled memory; on failure it
// returns NULL and, as on Windows, does not set the last error.
#pragma once

#include "standin/windef.h"

#define HEAP_NO_SERIALIZE 0x00000001u
#define HEAP_GENERATE_EXCEPTIONS 0x00000004u
#define HEAP_ZERO_MEMORY 0x00000008u

extern "C" {
HANDLE GetProcessHeap(void);
LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
}
