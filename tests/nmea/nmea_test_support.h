// Helpers of the NMEA tests: sentences with a checksum computed here, independently of the
// reader, and wide text.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "nmea_parser.h"
#include "nmea_text.h"

namespace zntr::test {

// "$" + body + "*" + the XOR of body's bytes as two upper-case hex digits + "\r\n".
inline std::string WithChecksum(std::string_view body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char digits[3];
    std::snprintf(digits, sizeof(digits), "%02X", sum);
    return "$" + std::string(body) + "*" + digits + "\r\n";
}

inline std::wstring Wide(const std::string& text) {
    return AnsiTextToWide(text.c_str());
}

// Feeds one narrow text to the reader as the line sink would.
inline NMEASentenceType Feed(cNMEAParser& parser, const std::string& text) {
    return parser.ParseNMEAData(Wide(text));
}

}  // namespace zntr::test
