// Bytes as the data files write them: \r, \n, \e (ESC), \0, \\ and \xHH stand for the bytes,
// everything else for itself. Escape writes line ends, ESC and other control bytes that way.
#pragma once

#include <string>

namespace zntr::test {

inline std::string Unescape(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
            continue;
        }
        const char code = text[++i];
        if (code == 'x' && i + 2 < text.size()) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += code == 'r'   ? '\r'
                     : code == 'n' ? '\n'
                     : code == 'e' ? '\x1b'
                     : code == '0' ? '\0'
                                   : code;
        }
    }
    return bytes;
}

inline std::string Escape(const std::string& bytes) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n' || c == '\x1b') {
            text += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\e";
        } else if (byte < 0x20 || byte >= 0x7F) {
            text += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
        } else {
            text += c;
        }
    }
    return text;
}

}  // namespace zntr::test
