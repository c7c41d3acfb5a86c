// Driver objects that live on the process heap: `new (std::nothrow)` of a class deriving from
// cHeapObject allocates with HeapAlloc and gives null when the heap has no room, and the object's
// last Release frees it with HeapFree. So an object's creation fails as the platform's other
// allocations do, and every E_OUTOFMEMORY path of a creator can be reached.
#pragma once

#include <cstddef>
#include <new>

#include "driver_platform.h"

class cHeapObject {
  public:
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
        return HeapAlloc(GetProcessHeap(), 0, size);
    }
    // Called only when a constructor throws, which no driver constructor does.
    static void operator delete(void* p, const std::nothrow_t&) noexcept {
        HeapFree(GetProcessHeap(), 0, p);
    }
    static void operator delete(void* p) noexcept { HeapFree(GetProcessHeap(), 0, p); }
    // Creation that throws is not offered: creators test for null.
    static void* operator new(std::size_t size) = delete;
};
