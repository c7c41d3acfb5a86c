#include "module_lock.h"

#include <atomic>

namespace {

std::atomic<LONG> gModuleLockCount{0};

}  // namespace

void LockModule() {
    gModuleLockCount.fetch_add(1, std::memory_order_relaxed);
}

// Release order: whatever an object did before it went is visible to the thread that then sees
// the count reach 0 and unloads the module.
void UnlockModule() {
    gModuleLockCount.fetch_sub(1, std::memory_order_release);
}

LONG GetModuleLockCount() {
    return gModuleLockCount.load(std::memory_order_acquire);
}
