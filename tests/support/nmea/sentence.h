// NMEA sentences for tests, with their checksums computed here rather than by the reader.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace zntr::test {

// "$" + body + "*" + the XOR of the body's bytes in two upper-case hex digits + "\r\n".
inline std::string Sentence(std::string_view body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char digits[3];
    std::snprintf(digits, sizeof(digits), "%02X", sum);
    return "$" + std::string(body) + "*" + digits + "\r\n";
}

}  // namespace zntr::test
