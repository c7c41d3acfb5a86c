// Fault injection for the stand-in's resources, with no Windows counterpart: tests make the next
// heap allocations, thread creations or socket creations fail to reach the driver's failure
// paths. Driver code never uses this.
#pragma once

namespace zntr::platform {

// The next `count` calls of HeapAlloc return NULL (0 turns the injection off).
void FailNextHeapAllocations(int count);

// The next `count` calls of CreateThread fail with ERROR_NOT_ENOUGH_MEMORY (0 turns it off).
void FailNextThreadCreations(int count);

// The next `count` calls of socket fail with WSAENOBUFS (0 turns it off).
void FailNextSocketCreations(int count);

}  // namespace zntr::platform
