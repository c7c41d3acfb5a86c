// CreateThread and the thread queries. Each thread runs a trampoline that owns a reference to
// its thread object, catches the platform's private ThreadEnd (TerminateThread) so that it never
// leaves the thread, and signals the object when the start routine is done.
#include <atomic>
#include <system_error>
#include <thread>

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "injected_failures.h"
#include "standin/errhandlingapi.h"
#include "standin/processthreadsapi.h"
#include "standin/resource_control.h"
#include "standin/timeapi.h"
#include "standin/winerror.h"
#include "thread_object.h"

namespace zntr::platform::detail {
namespace {

std::atomic<int> gThreadCreationFailures{0};

// Thread IDs are multiples of 4 and never 0, as on Windows.
DWORD NextThreadId() {
    static std::atomic<DWORD> next{0x400};
    return next.fetch_add(4);
}

void RunThread(std::shared_ptr<ThreadObject> thread, LPTHREAD_START_ROUTINE start,
               LPVOID parameter) {
    SetCurrentThreadObject(thread.get());
    {
        std::lock_guard<std::mutex> lock(WaitLock());
        thread->systemThread = ::pthread_self();
        thread->started = true;
    }
    DWORD exitCode = 0;
    try {
        // A termination requested before the thread ever ran ends it here, so its start routine
        // never runs.
        ThrowIfTerminationRequested();
        exitCode = start(parameter);
    } catch (const ThreadEnd& end) {
        exitCode = end.exitCode;
    }
    SetCurrentThreadObject(nullptr);
    timespec cpu{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    FILETIME exitTime;
    GetSystemTimeAsFileTime(&exitTime);
    // Signalled and notified under the lock: whoever sees the thread ended (and may then let
    // the process exit) does so only after this thread's last touch of the shared wait state.
    std::lock_guard<std::mutex> lock(WaitLock());
    thread->exitCode = exitCode;
    thread->finalCpuTime = FiletimeTicks(cpu);
    thread->exitTime =
        (static_cast<ULONGLONG>(exitTime.dwHighDateTime) << 32) | exitTime.dwLowDateTime;
    thread->ended = true;
    NotifyWaiters();
}

}  // namespace

ThreadObject::ThreadObject(DWORD threadId, int wake) : id(threadId), wakeDescriptor(wake) {}

ThreadObject::~ThreadObject() {
    ::close(wakeDescriptor);
}

}  // namespace zntr::platform::detail

namespace zntr::platform {

void FailNextThreadCreations(int count) {
    detail::gThreadCreationFailures.store(count > 0 ? count : 0);
}

}  // namespace zntr::platform

using namespace zntr::platform::detail;

// The stack size is left to the C++ runtime (8 MiB on Linux, more than the 1 MiB Windows
// default), and security attributes mean nothing here. A null start routine is refused with
// ERROR_INVALID_PARAMETER, where Windows would create a thread that faults at once; so is
// CREATE_SUSPENDED, which no program uses (the stand-in has no ResumeThread).
extern "C" HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*lpThreadAttributes*/, SIZE_T /*dwStackSize*/,
                               LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                               DWORD dwCreationFlags, LPDWORD lpThreadId) {
    if (lpStartAddress == nullptr || (dwCreationFlags & CREATE_SUSPENDED) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (ConsumeInjectedFailure(gThreadCreationFailures)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>(NextThreadId(), wake);
    FILETIME creationTime;
    GetSystemTimeAsFileTime(&creationTime);
    thread->creationTime =
        (static_cast<ULONGLONG>(creationTime.dwHighDateTime) << 32) | creationTime.dwLowDateTime;
    HANDLE handle = InsertHandle(thread);
    // The ID is known before the thread starts, so the caller's copy is set even when the new
    // thread runs first, as the Windows documentation allows.
    if (lpThreadId != nullptr) {
        *lpThreadId = thread->id;
    }
    try {
        std::thread(RunThread, thread, lpStartAddress, lpParameter).detach();
    } catch (const std::system_error&) {
        RemoveHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return handle;
}

extern "C" BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    auto thread = std::dynamic_pointer_cast<ThreadObject>(LookupHandle(hThread));
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(WaitLock());
    *lpExitCode = thread->exitCode;
    return TRUE;
}
