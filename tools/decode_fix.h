// `zntr decode --fix`: the fix record after each piece of a capture, as JSON Lines.
#pragma once

#include <cstdio>

namespace zntr::tools {

// Runs the input through one parser and writes one JSON object per piece:
// {"line":N,"code":C,"fix":{...every fix-record member...},"log":[...messages...]}.
// Returns 0, or 1 when the input could not be read.
int RunDecodeFix(std::FILE* input, std::FILE* output);

}  // namespace zntr::tools
