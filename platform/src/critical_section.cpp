#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "standin/synchapi.h"

namespace {

// A recursive lock built from a mutex and a condition variable rather than a recursive pthread
// mutex: a thread waiting to enter is then in an ordinary condition wait, which the stand-in's
// thread termination can interrupt.
struct CriticalSectionState {
    std::mutex mutex;
    std::condition_variable released;
    std::thread::id owner;  // default-constructed: nobody
    unsigned recursion = 0;
    unsigned waiters = 0;
};

static_assert(sizeof(CriticalSectionState) <= sizeof(RTL_CRITICAL_SECTION::Opaque));
static_assert(alignof(CriticalSectionState) <= alignof(RTL_CRITICAL_SECTION));

CriticalSectionState& State(LPCRITICAL_SECTION cs) {
    return *std::launder(reinterpret_cast<CriticalSectionState*>(cs->Opaque));
}

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
    std::unique_lock<std::mutex> lock(state.mutex);
    if (state.recursion > 0 && state.owner == self) {
        ++state.recursion;
        return;
    }
    while (state.recursion > 0) {
        ++state.waiters;
        state.released.wait(lock);
        --state.waiters;
    }
    state.owner = self;
    state.recursion = 1;
}

extern "C" BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    CriticalSectionState& state = State(lpCriticalSection);
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.recursion > 0 && state.owner != self) {
        return FALSE;
    }
    state.owner = self;
    ++state.recursion;
    return TRUE;
}

// Leaving a section the caller does not own is an error on Windows that can leave waiters
// blocked for ever; here it is ignored, which leaves the real owner's hold intact.
extern "C" void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    CriticalSectionState& state = State(lpCriticalSection);
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.recursion == 0 || state.owner != std::this_thread::get_id()) {
        return;
    }
    if (--state.recursion == 0) {
        state.owner = std::thread::id();
        if (state.waiters > 0) {
            state.released.notify_one();
        }
    }
}

extern "C" void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    State(lpCriticalSection).~CriticalSectionState();
}
