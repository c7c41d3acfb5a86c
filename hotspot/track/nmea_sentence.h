#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zntr::hotspot {

// XOR of every byte of `body`, the text that sits between '$' and '*' in a sentence.
std::uint8_t NmeaChecksum(std::string_view body);

// Frames `body` as a complete sentence: "$" + body + "*" + two upper-case hex digits + "\r\n".
// Throws std::invalid_argument when the body holds a character that would break the
// framing ('$', '*', CR or LF).
std::string FormatSentence(std::string_view body);

}  // namespace zntr::hotspot
