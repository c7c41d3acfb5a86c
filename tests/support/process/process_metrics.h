// What a running process holds, read from /proc: the figures a leak shows up in. Tests that run
// the host (or any program) for a while compare these before and after.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>

namespace zntr::test {

struct ProcessMetrics {
    std::size_t threads = 0;
    std::size_t descriptors = 0;
    std::size_t residentKiB = 0;      // VmRSS
    std::size_t peakResidentKiB = 0;  // VmHWM
};

// The figures of process `pid` (0: this process), or nothing when it is gone or /proc cannot be
// read. Reading the descriptors of this process opens one more for the listing; it is not counted.
std::optional<ProcessMetrics> ReadProcessMetrics(int pid = 0);

// The user plus system CPU time the process has used so far, in seconds.
std::optional<double> ReadProcessCpuSeconds(int pid = 0);

inline void PrintTo(const ProcessMetrics& metrics, std::ostream* out) {
    *out << metrics.threads << " threads, " << metrics.descriptors << " descriptors, "
         << metrics.residentKiB << " KiB resident (peak " << metrics.peakResidentKiB << " KiB)";
}

}  // namespace zntr::test
