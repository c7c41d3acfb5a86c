#include "track/nmea_sentence.h"

#include <stdexcept>

namespace zntr::hotspot {

std::uint8_t NmeaChecksum(std::string_view body) {
    std::uint8_t sum = 0;
    for (const char c : body) {
        sum ^= static_cast<std::uint8_t>(c);
    }
    return sum;
}

std::string FormatSentence(std::string_view body) {
    if (body.find_first_of("$*\r\n") != std::string_view::npos) {
        throw std::invalid_argument("sentence body holds a framing character");
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::uint8_t sum = NmeaChecksum(body);
    std::string sentence;
    sentence.reserve(body.size() + 6);
    sentence += '$';
    sentence += body;
    sentence += '*';
    sentence += kHex[sum >> 4];
    sentence += kHex[sum & 0x0F];
    sentence += "\r\n";
    return sentence;
}

}  // namespace zntr::hotspot
