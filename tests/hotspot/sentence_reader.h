#pragma once

// An independent reader of NMEA sentences for the tests: it frames, checks and splits what
// the generator produced without using any of the generator's own code.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zntr::hotspot::testing {

struct Parsed {
    std::string type;                 // "GPGGA", "PQXFI", ...
    std::vector<std::string> fields;  // the fields after the type
};

// Checks "$body*HH\r\n" with HH the upper-case XOR of the body, then splits the body.
inline ::testing::AssertionResult Read(std::string_view text, Parsed& out) {
    const std::size_t n = text.size();
    if (n < 6 || text[0] != '$' || text.substr(n - 5, 1) != "*" || !text.ends_with("\r\n")) {
        return ::testing::AssertionFailure() << "bad framing: " << text;
    }
    const std::string_view body = text.substr(1, n - 6);
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    const char* hex = "0123456789ABCDEF";
    if (body.find_first_of("$*\r\n") != std::string_view::npos || text[n - 4] != hex[sum >> 4] ||
        text[n - 3] != hex[sum & 0xF]) {
        return ::testing::AssertionFailure() << "bad body or checksum: " << text;
    }
    out = Parsed{};
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = body.find(',', start);
        std::string part(body.substr(start, comma - start));
        if (start == 0) {
            out.type = std::move(part);
        } else {
            out.fields.push_back(std::move(part));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return ::testing::AssertionSuccess();
}

// "ddmm.mmmm" (or "dddmm.mmmm") and its hemisphere letter back to signed degrees.
inline double DegreesOf(const std::string& value, const std::string& hemisphere) {
    const std::size_t minutes_at = value.find('.') - 2;
    const double degrees =
        std::stod(value.substr(0, minutes_at)) + std::stod(value.substr(minutes_at)) / 60.0;
    return hemisphere == "S" || hemisphere == "W" ? -degrees : degrees;
}

// "hhmmss.ss" back to seconds of the day.
inline double SecondsOf(const std::string& time) {
    return std::stoi(time.substr(0, 2)) * 3600.0 + std::stoi(time.substr(2, 2)) * 60.0 +
           std::stod(time.substr(4));
}

}  // namespace zntr::hotspot::testing
