#include <mutex>
#include <new>
#include <thread>

#include "kernel_object.h"
#include "standin/synchapi.h"

using namespace zntr::platform::detail;

namespace {

// A recursive lock built from a small mutex that guards its state, rather than a recursive
// pthread mutex. Entering a free section, re-entering and leaving touch only that mutex. A
// thread that must wait sleeps in the platform's one wait (WaitUntil on WaitLock()), so waiting
// to enter a critical section is a termination point like every other wait: TerminateThread ends
// such a thread even while the caller of TerminateThread holds the section.
struct CriticalSectionState {
    std::mutex mutex;
    std::thread::id owner;  // default-constructed: nobody
    unsigned recursion = 0;
    unsigned waiters = 0;
};

static_assert(sizeof(CriticalSectionState) <= sizeof(RTL_CRITICAL_SECTION::Opaque));
static_assert(alignof(CriticalSectionState) <= alignof(RTL_CRITICAL_SECTION));

CriticalSectionState& State(LPCRITICAL_SECTION cs) {
    return *std::launder(reinterpret_cast<CriticalSectionState*>(cs->Opaque));
}

// Under state.mutex: takes the section when it is free or already the caller's.
bool TryTake(CriticalSectionState& state, std::thread::id self) {
    if (state.recursion > 0 && state.owner != self) {
        return false;
    }
    state.owner = self;
    ++state.recursion;
    return true;
}

// Counts the caller among the waiters for as long as it waits, whichever way the wait ends.
class WaiterCount {
  public:
    explicit WaiterCount(CriticalSectionState& state) : state_(state) {}
    ~WaiterCount() {
        std::lock_guard<std::mutex> lock(state_.mutex);
        --state_.waiters;
    }
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
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (TryTake(state, self)) {
            return;
        }
        ++state.waiters;
    }
    WaiterCount counted(state);
    // Lock order: WaitLock() before the section's mutex, never the other way round.
    std::unique_lock<std::mutex> wait(WaitLock());
    WaitUntil(wait, std::nullopt, [&] {
        std::lock_guard<std::mutex> lock(state.mutex);
        return TryTake(state, self);
    });
}

extern "C" BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    CriticalSectionState& state = State(lpCriticalSection);
    std::lock_guard<std::mutex> lock(state.mutex);
    return TryTake(state, std::this_thread::get_id()) ? TRUE : FALSE;
}

// Leaving a section the caller does not own is an error on Windows that can leave waiters
// blocked for ever; here it is ignored, which leaves the real owner's hold intact.
extern "C" void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    CriticalSectionState& state = State(lpCriticalSection);
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.recursion == 0 || state.owner != std::this_thread::get_id()) {
            return;
        }
        if (--state.recursion == 0) {
            state.owner = std::thread::id();
            wake = state.waiters > 0;
        }
    }
    if (wake) {
        // Taking WaitLock() once orders this release after any waiter's check that saw the
        // section taken, so that waiter is asleep on the condition by now and the notification
        // reaches it.
        { std::lock_guard<std::mutex> lock(WaitLock()); }
        NotifyWaiters();
    }
}

extern "C" void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    State(lpCriticalSection).~CriticalSectionState();
}
