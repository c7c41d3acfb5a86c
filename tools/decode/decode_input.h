// How `zntr decode` cuts an NMEA capture into the texts the driver's line sink receives.
#pragma once

#include <cstdio>
#include <functional>

namespace zntr::tools {

// Reads the input as bytes and calls handle once per piece, in order. The input is split at
// "\n" and each piece keeps its "\n" (a last piece without one is passed without; an empty last
// piece is not passed). A piece that is exactly "Dummy", optionally followed by "\r", is passed
// as "Dummy" without line end. A NUL byte ends the text of its piece. Returns false when reading
// failed.
bool ForEachDecodePiece(std::FILE* input, const std::function<void(const char* text)>& handle);

}  // namespace zntr::tools
