// GetThreadTimes over the thread's CPU clock.
//
// Windows counts a thread's kernel and user time separately. Linux keeps one precise CPU clock
// per thread and, beside it, a split into system and user time: precise (microseconds) for the
// calling thread, in clock ticks for any other. The total here is always the CPU clock; the
// kernel part is the system's split of it, and the user part the rest, so that kernel plus user
// is exact whatever the resolution of the split.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include "standin/errhandlingapi.h"
#include "standin/processthreadsapi.h"
#include "standin/winerror.h"
#include "thread_object.h"

namespace zntr::platform::detail {
namespace {

constexpr ULONGLONG kTicksPerSecond = 10000000;  // 100-nanosecond units

ULONGLONG FromTimespec(const timespec& time) {
    return static_cast<ULONGLONG>(time.tv_sec) * kTicksPerSecond +
           static_cast<ULONGLONG>(time.tv_nsec) / 100;
}

ULONGLONG FromTimeval(const timeval& time) {
    return static_cast<ULONGLONG>(time.tv_sec) * kTicksPerSecond +
           static_cast<ULONGLONG>(time.tv_usec) * 10;
}

// Kernel never more than the total: the two clocks are sampled a moment apart.
void Split(ULONGLONG total, ULONGLONG kernel, ULONGLONG* kernelTime, ULONGLONG* userTime) {
    *kernelTime = kernel < total ? kernel : total;
    *userTime = total - *kernelTime;
}

// The system time of another thread of this process, from field 15 (stime, in clock ticks) of
// its /proc stat line; 0 when it cannot be read. The command name in field 2 may hold blanks
// and parentheses, so the fields are counted from the last ')'.
ULONGLONG OtherThreadSystemTime(pid_t threadId) {
    const std::string path = "/proc/self/task/" + std::to_string(threadId) + "/stat";
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        return 0;
    }
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof(line), file) != nullptr;
    std::fclose(file);
    const char* rest = read ? std::strrchr(line, ')') : nullptr;
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    // After ')': state (3), then fields 4 to 13, then utime (14) and stime (15).
    if (rest == nullptr ||
        std::sscanf(rest + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &userTicks,
                    &systemTicks) != 2) {
        return 0;
    }
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    return ticksPerSecond > 0 ? systemTicks * kTicksPerSecond / ticksPerSecond : 0;
}

void StoreTicks(ULONGLONG ticks, LPFILETIME time) {
    time->dwLowDateTime = static_cast<DWORD>(ticks);
    time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

}  // namespace

void CallingThreadCpuTimes(ULONGLONG* kernelTime, ULONGLONG* userTime) {
    timespec cpu{};
    rusage usage{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    ::getrusage(RUSAGE_THREAD, &usage);
    Split(FromTimespec(cpu), FromTimeval(usage.ru_stime), kernelTime, userTime);
}

}  // namespace zntr::platform::detail

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
    ULONGLONG kernelTime = 0;
    ULONGLONG userTime = 0;
    ULONGLONG exitTime = 0;
    ULONGLONG creationTime = 0;
    bool running = false;
    ULONGLONG total = 0;
    pid_t systemThreadId = 0;
    {
        // Under the lock a started thread that has not ended is still alive, so its clock can
        // be read; the thread sets `ended` under the same lock.
        std::lock_guard<std::mutex> lock(WaitLock());
        creationTime = thread->creationTime;
        if (thread->ended) {
            exitTime = thread->exitTime;
            kernelTime = thread->finalKernelTime;
            userTime = thread->finalUserTime;
        } else if (thread->started) {
            clockid_t clock{};
            timespec cpu{};
            if (::pthread_getcpuclockid(thread->systemThread, &clock) == 0 &&
                ::clock_gettime(clock, &cpu) == 0) {
                running = true;
                total = FromTimespec(cpu);
                systemThreadId = thread->systemThreadId;
            }
        }
    }
    // The split is read without the lock: a thread that ends meanwhile has no stat file left,
    // and its time counts as user time.
    if (running) {
        Split(total, OtherThreadSystemTime(systemThreadId), &kernelTime, &userTime);
    }
    StoreTicks(creationTime, lpCreationTime);
    StoreTicks(exitTime, lpExitTime);
    StoreTicks(kernelTime, lpKernelTime);
    StoreTicks(userTime, lpUserTime);
    return TRUE;
}
