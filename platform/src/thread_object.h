// Threads made by CreateThread, as kernel objects, and what their termination needs.
// Internal to the platform library.
#pragma once

#include <atomic>
#include <ctime>
#include <memory>

#include <pthread.h>

#include "kernel_object.h"
#include "standin/processthreadsapi.h"

namespace zntr::platform::detail {

// Thrown on a thread of the platform to end it, by a termination point once TerminateThread has
// asked for the thread's end. Only the CreateThread trampoline catches it, so
// it never crosses the thread's boundary. It derives from nothing, so no handler for
// std::exception in the code it unwinds can take it by mistake.
struct ThreadEnd {
    DWORD exitCode;
};

class ThreadObject : public KernelObject {
  public:
    ThreadObject(DWORD id, int wakeDescriptor);
    ~ThreadObject() override;
    ThreadObject(const ThreadObject&) = delete;
    ThreadObject& operator=(const ThreadObject&) = delete;

    // A thread handle is signalled once the thread has ended.
    bool IsSignalled() const override { return ended; }

    const DWORD id;
    // Readable by poll(); TerminateThread makes it readable so that a thread blocked in a socket
    // call wakes up and reaches its termination point.
    const int wakeDescriptor;

    // Set once, under WaitLock(), by TerminateThread; read without a lock by the thread itself.
    std::atomic<bool> terminationRequested{false};

    // Guarded by WaitLock().
    DWORD terminationExitCode = 0;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;

    // For GetThreadTimes, guarded by WaitLock(). The system thread is known once it has started
    // and stays alive until `ended` is set; from then on finalCpuTime holds its CPU time.
    ULONGLONG creationTime = 0;  // FILETIME count
    ULONGLONG exitTime = 0;
    bool started = false;
    pthread_t systemThread{};
    ULONGLONG finalCpuTime = 0;  // 100-nanosecond units
};

// A CPU clock's reading in 100-nanosecond units.
inline ULONGLONG FiletimeTicks(const timespec& time) {
    return static_cast<ULONGLONG>(time.tv_sec) * 10000000 +
           static_cast<ULONGLONG>(time.tv_nsec) / 100;
}

// The calling thread's object, or null on a thread the platform did not create (the main thread,
// std::thread workers of the host and tools), which can never be terminated.
ThreadObject* CurrentThreadObject();
void SetCurrentThreadObject(ThreadObject* thread);

// -1 on threads the platform did not create.
int CurrentThreadWakeDescriptor();

// Ends the calling thread (throws ThreadEnd) when its termination has been requested, unless an
// exception is already unwinding its stack: a destructor that makes a blocking call during that
// unwinding is left to finish it.
void ThrowIfTerminationRequested();

}  // namespace zntr::platform::detail
