#include "kernel_object.h"
#include "standin/errhandlingapi.h"
#include "standin/handleapi.h"
#include "standin/synchapi.h"
#include "standin/winerror.h"

namespace zntr::platform::detail {
namespace {

class EventObject : public KernelObject {
  public:
    EventObject(bool manualReset, bool signalled)
        : manualReset_(manualReset), signalled_(signalled) {}
    bool IsSignalled() const override { return signalled_; }
    // An auto-reset event releases exactly one waiter and resets itself with that release.
    void OnWaitSatisfied() override {
        if (!manualReset_) {
            signalled_ = false;
        }
    }
    void Set() { signalled_ = true; }
    void Reset() { signalled_ = false; }

  private:
    const bool manualReset_;
    bool signalled_;  // guarded by WaitLock()
};

std::shared_ptr<EventObject> LookupEvent(HANDLE handle) {
    auto event = std::dynamic_pointer_cast<EventObject>(LookupHandle(handle));
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return event;
}

}  // namespace
}  // namespace zntr::platform::detail

using namespace zntr::platform::detail;

// Named events, which no program uses, are refused.
extern "C" HANDLE CreateEventW(LPSECURITY_ATTRIBUTES /*lpEventAttributes*/, BOOL bManualReset,
                               BOOL bInitialState, LPCWSTR lpName) {
    if (lpName != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return InsertHandle(
        std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE));
}

extern "C" BOOL SetEvent(HANDLE hEvent) {
    auto event = LookupEvent(hEvent);
    if (!event) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(WaitLock());
        event->Set();
    }
    NotifyWaiters();
    return TRUE;
}

extern "C" BOOL ResetEvent(HANDLE hEvent) {
    auto event = LookupEvent(hEvent);
    if (!event) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(WaitLock());
    event->Reset();
    return TRUE;
}

extern "C" BOOL CloseHandle(HANDLE hObject) {
    if (!RemoveHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
