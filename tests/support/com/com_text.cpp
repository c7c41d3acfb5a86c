#include "com_text.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>

namespace zntr::test {
namespace {

std::string Hex(std::uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof(text), "0x%0*" PRIX64, digits, value);
    return text;
}

template <typename T>
std::string Shortest(T value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof(text), value).ptr);
}

}  // namespace

std::string Quote(const std::vector<std::uint32_t>& units) {
    std::string text = "\"";
    for (const std::uint32_t unit : units) {
        const char* escape = unit == '"'    ? "\\\""
                             : unit == '\\' ? "\\\\"
                             : unit == '\n' ? "\\n"
                             : unit == '\r' ? "\\r"
                             : unit == '\t' ? "\\t"
                                            : nullptr;
        char other[16] = {static_cast<char>(unit), 0};
        if (escape == nullptr && (unit < 0x20 || unit >= 0x7F)) {
            std::snprintf(other, sizeof(other), unit < 0x100 ? "\\x%02X" : "\\u{%04X}", unit);
        }
        text += escape != nullptr ? escape : other;
    }
    return text + "\"";
}

std::string Quote(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    return Quote(std::vector<std::uint32_t>(data, data + bytes.size()));
}

std::string Quote(std::wstring_view wide) {
    return Quote(std::vector<std::uint32_t>(wide.begin(), wide.end()));
}

bool Unquote(std::string_view& text, std::vector<std::uint32_t>* units) {
    units->clear();
    std::size_t i = 1;
    for (; i < text.size() && text[0] == '"' && text[i] != '"'; ++i) {
        std::uint32_t unit = static_cast<unsigned char>(text[i]);
        const char kind = i + 1 < text.size() && unit == '\\' ? text[++i] : 0;
        const std::size_t digits = kind == 'x' ? i + 1 : kind == 'u' ? i + 2 : 0;
        const std::size_t end = kind == 'x' ? i + 3 : kind == 'u' ? text.find('}', i) : 0;
        if (digits != 0 && end <= text.size()) {
            std::from_chars(text.data() + digits, text.data() + end, unit, 16);
            i = end - (kind == 'x');
        } else if (kind != 0) {
            unit = kind == 'n' ? '\n' : kind == 'r' ? '\r' : kind == 't' ? '\t' : kind;
        }
        units->push_back(unit);
    }
    if (text.empty() || text[0] != '"' || i >= text.size()) {
        return false;
    }
    text.remove_prefix(i + 1);
    return true;
}

std::string GuidText(REFGUID guid) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string PropVariantText(const PROPVARIANT& v) {
    const ULONGLONG ticks =
        (static_cast<ULONGLONG>(v.filetime.dwHighDateTime) << 32) | v.filetime.dwLowDateTime;
    std::string bytes;
    for (ULONG i = 0; v.vt == (VT_VECTOR | VT_UI1) && i < v.caub.cElems; ++i) {
        bytes += " " + Hex(v.caub.pElems[i], 2).substr(2);
    }
    switch (v.vt) {
        case VT_EMPTY:
            return "VT_EMPTY";
        case VT_I4:
            return "VT_I4 " + std::to_string(v.lVal);
        case VT_UI4:
            return "VT_UI4 " + std::to_string(v.ulVal);
        case VT_R4:
            return "VT_R4 " + Shortest(v.fltVal);
        case VT_R8:
            return "VT_R8 " + Shortest(v.dblVal);
        case VT_BOOL:
            return "VT_BOOL " + std::to_string(v.boolVal);
        case VT_ERROR:
            return "VT_ERROR " + Hex(static_cast<ULONG>(v.scode), 8);
        case VT_FILETIME:
            return "VT_FILETIME " + Hex(ticks, 16);
        case VT_LPWSTR:
            return "VT_LPWSTR " + (v.pwszVal ? Quote(std::wstring_view(v.pwszVal)) : "null");
        case VT_CLSID:
            return "VT_CLSID " + (v.puuid ? GuidText(*v.puuid) : "null");
        case VT_VECTOR | VT_UI1:
            return "VT_VECTOR|VT_UI1" + bytes;
        default:
            return "vt " + Hex(v.vt, 4);
    }
}

}  // namespace zntr::test
