// Heap allocation counts for the benchmarks: every C++ allocation (operator new) and, outside
// the sanitizer builds, every malloc of the process, the platform library's included.
#pragma once

namespace zntr::bench {

long long NewCount();
long long MallocCount();
// Whether MallocCount() counts (the sanitizers own malloc, so it does not there).
bool CountsMallocs();

}  // namespace zntr::bench
