// `zntr decode --fix`: the fix record after each piece of a capture, as JSON Lines.
#pragma once

#include <cstdio>
#include <functional>
#include <string_view>

namespace zntr::tools {

// Receives the output one line at a time, each with its "\n".
using DecodeOutput = std::function<void(std::string_view line)>;

struct DecodeFixOptions {
    // Each line carries only the fix-record members that the piece changed (all of them on the
    // first line), the satellites in view as [PRN, Elevation, Azimuth, SNR], numbers in their
    // shortest form, and the log only when there is one.
    bool changes = false;
};

// Runs the input through one parser and writes one JSON object per piece:
// {"line":N,"code":C,"fix":{...every fix-record member...},"log":[...messages...]}.
// Returns 0, or 1 when the input could not be read.
int RunDecodeFix(std::FILE* input, const DecodeFixOptions& options, const DecodeOutput& output);

}  // namespace zntr::tools
