// Kernel objects behind handles, and the one wait mechanism every waitable object shares.
// Internal to the platform library.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "standin/windef.h"

namespace zntr::platform::detail {

// A waitable object. Its state is read and changed only under WaitLock(); whoever changes it
// calls NotifyWaiters() so that every wait looks again.
class KernelObject {
  public:
    virtual ~KernelObject() = default;
    virtual bool IsSignalled() const = 0;
    // Called when a wait is satisfied by this object: an auto-reset event resets here.
    virtual void OnWaitSatisfied() {}
};

// Every wait in the process sleeps on one condition variable under one lock. Simple, and correct
// for waits on any mix of objects; this process has a handful of threads and objects.
std::mutex& WaitLock();
void NotifyWaiters();

// Waits on WaitLock() (held by the caller) until ready() or the deadline. Returns false on
// timeout. A thread whose termination is requested ends here (see thread termination).
template <typename Ready>
bool WaitUntil(std::unique_lock<std::mutex>& lock,
               std::optional<std::chrono::steady_clock::time_point> deadline, Ready ready);

// Handles: small integers that name table entries, so that a stale or invented handle is
// refused rather than followed.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);

// Hook for thread termination: called in every blocking wait, with WaitLock() held. Ends the
// calling thread when its termination has been requested; otherwise returns.
void TerminationPoint(std::unique_lock<std::mutex>& lock);
// Whether the calling thread's termination has been requested (checked without locks).
bool TerminationRequested();

std::condition_variable& WaitCondition();

template <typename Ready>
bool WaitUntil(std::unique_lock<std::mutex>& lock,
               std::optional<std::chrono::steady_clock::time_point> deadline, Ready ready) {
    for (;;) {
        TerminationPoint(lock);
        if (ready()) {
            return true;
        }
        if (!deadline) {
            WaitCondition().wait(lock);
        } else if (WaitCondition().wait_until(lock, *deadline) == std::cv_status::timeout) {
            TerminationPoint(lock);
            return ready();
        }
    }
}

}  // namespace zntr::platform::detail
