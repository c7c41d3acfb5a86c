#include "stop_signals.h"

#include <atomic>

namespace zntr::tools {
namespace {

// The event the console control handler sets; one per process, as the handler is.
std::atomic<HANDLE> gStopEvent{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        if (HANDLE stop = gStopEvent.load()) {
            SetEvent(stop);
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace

StopSignals::StopSignals() : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    gStopEvent.store(stop_);
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

bool StopSignals::Wait(std::chrono::milliseconds timeout) {
    const auto count = timeout.count() < 0 ? 0 : timeout.count();
    return WaitForSingleObject(stop_, static_cast<DWORD>(count)) == WAIT_OBJECT_0;
}

void StopSignals::WaitForever() {
    WaitForSingleObject(stop_, INFINITE);
}

}  // namespace zntr::tools
