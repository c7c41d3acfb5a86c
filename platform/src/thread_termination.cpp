// TerminateThread and the termination points of blocking calls.
//
// Windows stops the target wherever it is and releases nothing it held. Here the target ends at
// its next blocking platform call: every wait (WaitUntil), every socket call, and the wait to
// enter a critical section check the target's termination flag and, when it is set, throw
// ThreadEnd. The stack unwinds to the CreateThread trampoline, releasing every scoped lock,
// handle and socket on the way, and the thread object becomes signalled. That is safer than
// Windows: nothing the thread held stays held.
#include <exception>

#include <sys/eventfd.h>
#include <unistd.h>

#include "standin/errhandlingapi.h"
#include "standin/processthreadsapi.h"
#include "standin/winerror.h"
#include "thread_object.h"

namespace zntr::platform::detail {
namespace {

thread_local ThreadObject* tCurrentThread = nullptr;

}  // namespace

ThreadObject* CurrentThreadObject() {
    return tCurrentThread;
}

void SetCurrentThreadObject(ThreadObject* thread) {
    tCurrentThread = thread;
}

int CurrentThreadWakeDescriptor() {
    return tCurrentThread == nullptr ? -1 : tCurrentThread->wakeDescriptor;
}

void ThrowIfTerminationRequested() {
    ThreadObject* self = tCurrentThread;
    if (self == nullptr || !self->terminationRequested.load(std::memory_order_acquire) ||
        std::uncaught_exceptions() > 0) {
        return;
    }
    DWORD exitCode = 0;
    {
        std::lock_guard<std::mutex> lock(WaitLock());
        exitCode = self->terminationExitCode;
    }
    throw ThreadEnd{exitCode};
}

void TerminationPoint(std::unique_lock<std::mutex>& /*lock*/) {
    ThreadObject* self = tCurrentThread;
    if (self == nullptr || !self->terminationRequested.load(std::memory_order_acquire) ||
        std::uncaught_exceptions() > 0) {
        return;
    }
    // The caller's unique_lock releases WaitLock() as the stack unwinds.
    throw ThreadEnd{self->terminationExitCode};
}

bool TerminationRequested() {
    ThreadObject* self = tCurrentThread;
    return self != nullptr && self->terminationRequested.load(std::memory_order_acquire);
}

}  // namespace zntr::platform::detail

using namespace zntr::platform::detail;

extern "C" BOOL TerminateThread(HANDLE hThread, DWORD dwExitCode) {
    auto thread = std::dynamic_pointer_cast<ThreadObject>(LookupHandle(hThread));
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (thread.get() == CurrentThreadObject()) {
        // A thread that terminates itself ends on the spot, as on Windows.
        throw ThreadEnd{dwExitCode};
    }
    {
        std::lock_guard<std::mutex> lock(WaitLock());
        // The first request fixes the exit code; a thread that has already ended keeps its own.
        if (!thread->ended && !thread->terminationRequested.load()) {
            thread->terminationExitCode = dwExitCode;
            thread->terminationRequested.store(true, std::memory_order_release);
        }
    }
    NotifyWaiters();
    const eventfd_t one = 1;
    static_cast<void>(::write(thread->wakeDescriptor, &one, sizeof(one)));

    // Returns once the target no longer runs any code but the trampoline's last steps. The wait
    // is itself a termination point, so a caller that is being terminated ends here too.
    std::unique_lock<std::mutex> lock(WaitLock());
    WaitUntil(lock, std::nullopt, [&] { return thread->ended; });
    return TRUE;
}
