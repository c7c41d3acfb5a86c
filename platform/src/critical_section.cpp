#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include "kernel_object.h"
#include "standin/synchapi.h"

using namespace zntr::platform::detail;

namespace {

// A recursive lock whose owner is one atomic thread id: entering a free section, re-entering and
// leaving are an atomic compare-and-swap or load and store, with no lock of their own (the
// driver enters its sections for every line it reads). A thread that must wait sleeps in the
// platform's one wait (WaitUntil on WaitLock()), so waiting to enter a critical section is a
// termination point like every other wait: TerminateThread ends such a thread even while the
// caller of TerminateThread holds the section.
//
// No wake-up is lost: a waiter counts itself before it tries the section under WaitLock(), and
// the owner frees the section before it reads the count (both sequentially consistent), so
// either the owner sees the waiter and wakes it under WaitLock(), or the waiter's try sees the
// section free.
struct CriticalSectionState {
    std::atomic<std::thread::id> owner;  // default-constructed: nobody
    unsigned recursion = 0;              // the owner's alone
    std::atomic<unsigned> waiters = 0;
};

static_assert(sizeof(CriticalSectionState) <= sizeof(RTL_CRITICAL_SECTION::Opaque));
static_assert(alignof(CriticalSectionState) <= alignof(RTL_CRITICAL_SECTION));
static_assert(std::atomic<std::thread::id>::is_always_lock_free);

CriticalSectionState& State(LPCRITICAL_SECTION cs) {
    return *std::launder(reinterpret_cast<CriticalSectionState*>(cs->Opaque));
}

// Takes the section when it is free or already the caller's. Only the owner ever stores its own
// id, so finding it there means the caller holds the section.
bool TryTake(CriticalSectionState& state, std::thread::id self) {
    if (state.owner.load(std::memory_order_relaxed) == self) {
        ++state.recursion;
        return true;
    }
    std::thread::id nobody;
    if (!state.owner.compare_exchange_strong(nobody, self)) {
        return false;
    }
    state.recursion = 1;
    return true;
}

// Counts the caller among the waiters for as long as it waits, whichever way the wait ends.
class WaiterCount {
  public:
    explicit WaiterCount(CriticalSectionState& state) : state_(state) { ++state_.waiters; }
    ~WaiterCount() { --state_.waiters; }
    WaiterCount(const WaiterCount&) = delete;
    WaiterCount& operator=(const WaiterCount&) = delete;

  private:
    CriticalSectionState& state_;
};

}  // namespace

extern "C" void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    new (lpCriticalSection->Opaque) CriticalSectionState();
}

// The spin count only tunes contention on multiprocessors; since Vista the call always succeeds.
extern "C" BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                      DWORD /*dwSpinCount*/) {
    InitializeCriticalSection(lpCriticalSection);
    return TRUE;
}

extern "C" void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    CriticalSectionState& state = State(lpCriticalSection);
    const std::thread::id self = std::this_thread::get_id();
    if (TryTake(state, self)) {
        return;
    }
    WaiterCount counted(state);
    std::unique_lock<std::mutex> wait(WaitLock());
    WaitUntil(wait, std::nullopt, [&] { return TryTake(state, self); });
}

extern "C" BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    return TryTake(State(lpCriticalSection), std::this_thread::get_id()) ? TRUE : FALSE;
}

// Leaving a section the caller does not own is an error on Windows that can leave waiters
// blocked for ever; here it is ignored, which leaves the real owner's hold intact.
extern "C" void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    CriticalSectionState& state = State(lpCriticalSection);
    if (state.owner.load(std::memory_order_relaxed) != std::this_thread::get_id() ||
        state.recursion == 0 || --state.recursion != 0) {
        return;
    }
    state.owner.store(std::thread::id());
    if (state.waiters.load() > 0) {
        // Taking WaitLock() once orders this release after any waiter's try that saw the section
        // taken, so that waiter is asleep on the condition by now and the notification reaches it.
        { std::lock_guard<std::mutex> lock(WaitLock()); }
        NotifyWaiters();
    }
}

extern "C" void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    State(lpCriticalSection).~CriticalSectionState();
}
