// The countdown behind the stand-in's "fail the next N calls" controls
// (standin/resource_control.h). Internal to the platform library.
#pragma once

#include <atomic>

namespace zntr::platform::detail {

// Takes one failure off the count; whether there was one left for this call.
inline bool ConsumeInjectedFailure(std::atomic<int>& failures) {
    int left = failures.load();
    while (left > 0 && !failures.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0;
}

}  // namespace zntr::platform::detail
