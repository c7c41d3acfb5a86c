// What every fuzz target shares: a check that stops the run with a message, and the driver's
// debug log switched on with its output dropped, so that every message is formatted (the
// formatting is code under test) without filling the fuzzer's output.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "standin/control.h"

// A broken invariant is a finding: print what broke and abort, which libFuzzer reports as a
// crash and saves the input of.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #condition, \
                         what);                                                                    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace zntr::fuzz {

// Sends the debugger output nowhere for the life of the process; call once before the first
// input.
inline void DropDebugOutput() {
    zntr::platform::SetDebugOutputSink({});
}

}  // namespace zntr::fuzz
