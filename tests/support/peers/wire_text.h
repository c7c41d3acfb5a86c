// Bytes as the data files write them: \r, \n and \e (ESC) for those bytes, \xHH for the other
// control bytes. Unescape reads \r and \n only, all the stream steps need.
#pragma once

#include <cstdio>
#include <regex>
#include <string>

namespace zntr::test {

inline std::string Unescape(const std::string& text) {
    return std::regex_replace(std::regex_replace(text, std::regex(R"(\\r)"), "\r"),
                              std::regex(R"(\\n)"), "\n");
}

inline std::string Escape(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        char hex[8];
        std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
        text += c == '\r'                     ? "\\r"
                : c == '\n'                   ? "\\n"
                : c == '\x1b'                 ? "\\e"
                : byte < 0x20 || byte >= 0x7F ? hex
                                              : std::string(1, c);
    }
    return text;
}

}  // namespace zntr::test
