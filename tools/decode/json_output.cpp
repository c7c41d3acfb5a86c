#include "json_output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "standin/stringapiset.h"

namespace zntr::tools {
namespace {

// An integral value below 2^53 in magnitude has at most 16 digits, which both number forms write
// as the integer itself: its text is made without the general conversion, which costs several
// times more. Negative zero, whose sign %.17g keeps, takes the general way.
bool AppendSmallIntegral(std::string& out, double value) {
    if (!(std::fabs(value) < 9007199254740992.0)) {
        return false;
    }
    const auto integer = static_cast<std::int64_t>(value);
    if (static_cast<double>(integer) != value || (integer == 0 && std::signbit(value))) {
        return false;
    }
    AppendJsonInteger(out, integer);
    return true;
}

}  // namespace

void AppendJsonDouble(std::string& out, double value) {
    if (AppendSmallIntegral(out, value)) {
        return;
    }
    if (std::isnan(value)) {
        out += "\"nan\"";
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "\"inf\"" : "\"-inf\"";
        return;
    }
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 17);
    out.append(text, result.ptr);
}

void AppendJsonShortest(std::string& out, double value) {
    if (AppendSmallIntegral(out, value)) {
        return;
    }
    char text[32];
    const char* end =
        std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 17).ptr;
    if (!std::isfinite(value) ||
        std::string_view(text, end).find_first_of(".e") == std::string_view::npos) {
        std::isfinite(value) ? AppendJsonInteger(out, static_cast<std::int64_t>(value))
                             : AppendJsonDouble(out, value);
        return;
    }
    // The shortest digits d.ddd and the exponent, placed by where the decimal point falls.
    end = std::to_chars(text, text + sizeof(text), value, std::chars_format::scientific).ptr;
    std::string_view scientific(text, static_cast<size_t>(end - text));
    if (scientific.front() == '-') {
        out += '-';
        scientific.remove_prefix(1);
    }
    const size_t e = scientific.find('e');
    std::string digits(scientific.substr(0, e));
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    const int point = std::atoi(std::string(scientific.substr(e + 1)).c_str()) + 1;
    const int count = static_cast<int>(digits.size());
    if (point > 0 && point <= 15) {
        out += point >= count ? digits + std::string(static_cast<size_t>(point - count), '0') + ".0"
                              : digits.insert(static_cast<size_t>(point), ".");
    } else if (point > -4 && point <= 0) {
        out += "0." + std::string(static_cast<size_t>(-point), '0') + digits;
    } else {
        out += count > 1 ? digits.insert(1, ".") : digits;
        char exponent[16];
        std::snprintf(exponent, sizeof(exponent), "e%+03d", point - 1);
        out += exponent;
    }
}

void AppendJsonInteger(std::string& out, std::int64_t value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    out.append(text, result.ptr);
}

void AppendJsonString(std::string& out, std::string_view utf8) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[byte >> 4]);
                    out.push_back(kHex[byte & 0xF]);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

std::string WideToUtf8(std::wstring_view wide) {
    if (wide.empty()) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                            size, nullptr, nullptr);
    }
    return text;
}

std::string AnsiToUtf8(std::string_view ansi) {
    if (ansi.empty()) {
        return std::string();
    }
    std::wstring wide(ansi.size(), L'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(),
                        static_cast<int>(wide.size()));
    return WideToUtf8(wide);
}

}  // namespace zntr::tools
