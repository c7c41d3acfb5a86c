// The process heap, over the C runtime's allocator.
#include <atomic>
#include <cstdlib>

#include "injected_failures.h"
#include "standin/errhandlingapi.h"
#include "standin/heapapi.h"
#include "standin/resource_control.h"
#include "standin/winerror.h"

namespace {

std::atomic<int> gHeapFailures{0};

// One process heap; its handle is a fixed value that is not in the kernel-object table, so
// CloseHandle and the waits refuse it as Windows does.
HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x7FFE0000));

}  // namespace

namespace zntr::platform {

void FailNextHeapAllocations(int count) {
    gHeapFailures.store(count > 0 ? count : 0);
}

}  // namespace zntr::platform

extern "C" HANDLE GetProcessHeap(void) {
    return kProcessHeap;
}

// A request of 0 bytes returns a valid, distinct block, as on Windows. A failure returns NULL
// without touching the last error (Windows sets none unless HEAP_GENERATE_EXCEPTIONS is given,
// and the stand-in raises no structured exceptions).
extern "C" LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (hHeap != kProcessHeap || zntr::platform::detail::ConsumeInjectedFailure(gHeapFailures)) {
        return nullptr;
    }
    const SIZE_T size = dwBytes == 0 ? 1 : dwBytes;
    return (dwFlags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, size) : std::malloc(size);
}

// Freeing NULL succeeds and does nothing.
extern "C" BOOL HeapFree(HANDLE hHeap, DWORD /*dwFlags*/, LPVOID lpMem) {
    if (hHeap != kProcessHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::free(lpMem);
    return TRUE;
}
