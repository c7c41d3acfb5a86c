// Termination points of blocking waits. Until threads of the platform can be terminated, no
// termination is ever requested and these do nothing.
#include "kernel_object.h"

namespace zntr::platform::detail {

void TerminationPoint(std::unique_lock<std::mutex>& /*lock*/) {}

bool TerminationRequested() {
    return false;
}

}  // namespace zntr::platform::detail
