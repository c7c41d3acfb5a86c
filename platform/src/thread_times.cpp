// GetThreadTimes over the thread's CPU clock.
//
// Windows counts a thread's kernel and user time separately; the one program that asks (a
// benchmark) adds the two. The stand-in reads the thread's precise CPU clock and reports all of
// it as user time, with a kernel time of 0, so that the sum is exact.
#include <ctime>
#include <mutex>

#include <pthread.h>

#include "standin/errhandlingapi.h"
#include "standin/processthreadsapi.h"
#include "standin/winerror.h"
#include "thread_object.h"

namespace {

void StoreTicks(ULONGLONG ticks, LPFILETIME time) {
    time->dwLowDateTime = static_cast<DWORD>(ticks);
    time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

}  // namespace

using namespace zntr::platform::detail;

// Windows requires all four pointers and faults on a null one; here a null pointer is refused
// with ERROR_INVALID_PARAMETER. A handle that names no thread fails with ERROR_INVALID_HANDLE.
// A thread that has not started running yet has used no time.
extern "C" BOOL GetThreadTimes(HANDLE hThread, LPFILETIME lpCreationTime, LPFILETIME lpExitTime,
                               LPFILETIME lpKernelTime, LPFILETIME lpUserTime) {
    auto thread = std::dynamic_pointer_cast<ThreadObject>(LookupHandle(hThread));
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpCreationTime == nullptr || lpExitTime == nullptr || lpKernelTime == nullptr ||
        lpUserTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ULONGLONG cpuTime = 0;
    // Under the lock a started thread that has not ended is still alive, so its clock can be
    // read; the thread sets `ended` under the same lock.
    std::lock_guard<std::mutex> lock(WaitLock());
    if (thread->ended) {
        cpuTime = thread->finalCpuTime;
    } else if (thread->started) {
        clockid_t clock{};
        timespec cpu{};
        if (::pthread_getcpuclockid(thread->systemThread, &clock) == 0 &&
            ::clock_gettime(clock, &cpu) == 0) {
            cpuTime = FiletimeTicks(cpu);
        }
    }
    StoreTicks(thread->creationTime, lpCreationTime);
    StoreTicks(thread->exitTime, lpExitTime);
    StoreTicks(0, lpKernelTime);
    StoreTicks(cpuTime, lpUserTime);
    return TRUE;
}
