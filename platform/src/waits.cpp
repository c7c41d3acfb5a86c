#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "kernel_object.h"
#include "standin/errhandlingapi.h"
#include "standin/synchapi.h"
#include "standin/winerror.h"

using namespace zntr::platform::detail;

namespace {

std::optional<std::chrono::steady_clock::time_point> DeadlineAfter(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        return std::nullopt;
    }
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

}  // namespace

// Alertable waits behave as plain waits: the stand-in queues no asynchronous procedure calls,
// so WAIT_IO_COMPLETION never occurs. A wait for all the objects at once, which no program makes,
// is refused with ERROR_INVALID_PARAMETER.
extern "C" DWORD WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                          DWORD dwMilliseconds, BOOL /*bAlertable*/) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr || bWaitAll) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<KernelObject>> objects;
    for (DWORD i = 0; i < nCount; ++i) {
        auto object = LookupHandle(lpHandles[i]);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        // The same object twice is refused, as on Windows.
        if (std::find(objects.begin(), objects.end(), object) != objects.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }

    DWORD satisfied = WAIT_TIMEOUT;
    auto ready = [&] {
        for (DWORD i = 0; i < nCount; ++i) {
            if (objects[i]->IsSignalled()) {
                satisfied = WAIT_OBJECT_0 + i;
                return true;
            }
        }
        return false;
    };

    std::unique_lock<std::mutex> lock(WaitLock());
    if (!WaitUntil(lock, DeadlineAfter(dwMilliseconds), ready)) {
        return WAIT_TIMEOUT;
    }
    // Only the object that satisfied the wait changes state: an auto-reset event at a higher
    // index stays signalled.
    objects[satisfied - WAIT_OBJECT_0]->OnWaitSatisfied();
    return satisfied;
}

extern "C" DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                        DWORD dwMilliseconds) {
    return WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, FALSE);
}

extern "C" DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjectsEx(1, &hHandle, FALSE, dwMilliseconds, FALSE);
}

extern "C" void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        // Gives up the rest of the time slice.
        std::this_thread::yield();
        return;
    }
    std::unique_lock<std::mutex> lock(WaitLock());
    WaitUntil(lock, DeadlineAfter(dwMilliseconds), [] { return false; });
}
