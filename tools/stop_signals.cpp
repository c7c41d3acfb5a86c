#include "stop_signals.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>

namespace zntr::tools {

StopSignals::StopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
}

bool StopSignals::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
            deadline - std::chrono::steady_clock::now());
        const auto nanoseconds = left.count() < 0 ? 0 : left.count();
        timespec wait{};
        wait.tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
        wait.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
        if (sigtimedwait(&signals_, nullptr, &wait) >= 0) {
            return true;
        }
        // EINTR: a signal with a handler came first; wait for what is left.
        if (errno != EINTR) {
            return false;
        }
    }
}

void StopSignals::WaitForever() {
    int signal = 0;
    sigwait(&signals_, &signal);
}

}  // namespace zntr::tools
