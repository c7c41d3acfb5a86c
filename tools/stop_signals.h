// Ctrl-C and SIGTERM as something a command waits for. The constructor blocks both in the
// calling thread before it starts any other, so every thread it starts inherits the mask and the
// signals stay pending until a wait below takes them: nothing else in the process is interrupted
// half-way. On Windows (stop_signals_windows.cpp) Ctrl-C, Ctrl-Break and the console's close
// are taken by a console control handler instead, which only sets an event.
#pragma once

#if defined(_WIN32)
#include "driver_platform.h"
#else
#include <signal.h>
#endif

#include <chrono>

namespace zntr::tools {

class StopSignals {
  public:
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits up to `timeout` for SIGINT or SIGTERM; true when one came. A zero timeout only
    // looks at what is pending.
    bool Wait(std::chrono::milliseconds timeout);
    // Waits until SIGINT or SIGTERM comes.
    void WaitForever();

  private:
#if defined(_WIN32)
    HANDLE stop_;
#else
    sigset_t signals_;
#endif
};

}  // namespace zntr::tools
