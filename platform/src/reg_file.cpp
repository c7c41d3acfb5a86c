// Reading a .reg file. The format is regedit's export format: a header line, then sections that
// create ([KEY]) or delete ([-KEY]) a key, each followed by its values:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Key]
//   "Name"="text"              \\ and \" escaped
//   "Count"=dword:0000002a     exactly 8 hex digits
//   "Bytes"=hex:01,02,ff       hex(N): gives type N; long lists continue after a "\" line end
//   @="default value"
//   "Old"=-                    deletes the value
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Gone]
//   ; a comment line
//
// Sections apply in order, as an import would: a key deleted by one section can be created again
// by a later one. The text of hex(2) and hex(7) values is UTF-16LE in version 5.00 files and
// ANSI in REGEDIT4 files; both are kept as UTF-16LE.
#include "reg_file.h"

#include <cwctype>

#include "standin/stringapiset.h"
#include "standin/winreg.h"

namespace zntr::platform::detail {
namespace {

constexpr std::wstring_view kVersion5Header = L"Windows Registry Editor Version 5.00";
constexpr std::wstring_view kVersion4Header = L"REGEDIT4";
constexpr std::wstring_view kRootKeys[] = {
    L"HKEY_LOCAL_MACHINE", L"HKEY_CURRENT_USER",   L"HKEY_CLASSES_ROOT",
    L"HKEY_USERS",         L"HKEY_CURRENT_CONFIG",
};

struct ParseError {
    std::string reason;
};

std::wstring DecodeCodePage(UINT codePage, DWORD flags, std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    if (length <= 0) {
        throw ParseError{"the text does not decode"};
    }
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), size, text.data(), length);
    return text;
}

std::wstring DecodeUtf16(std::string_view bytes) {
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned unit = static_cast<BYTE>(bytes[i]) |
                              (static_cast<unsigned>(static_cast<BYTE>(bytes[i + 1])) << 8);
        // A surrogate pair is one character of the 32-bit WCHAR.
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            const unsigned low = static_cast<BYTE>(bytes[i + 2]) |
                                 (static_cast<unsigned>(static_cast<BYTE>(bytes[i + 3])) << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                text.push_back(
                    static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
                i += 2;
                continue;
            }
        }
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}

std::wstring DecodeFile(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<BYTE>(bytes[0]) == 0xFF &&
        static_cast<BYTE>(bytes[1]) == 0xFE) {
        return DecodeUtf16(bytes.substr(2));
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return DecodeCodePage(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.substr(3));
    }
    // A REGEDIT4 file is ANSI: text that is not UTF-8 is taken as Windows-1252.
    try {
        return DecodeCodePage(CP_UTF8, MB_ERR_INVALID_CHARS, bytes);
    } catch (const ParseError&) {
        return DecodeCodePage(CP_ACP, 0, bytes);
    }
}

// UTF-16LE bytes of a text, surrogate pairs for characters beyond the Basic Multilingual Plane.
void AppendUtf16(std::vector<BYTE>& out, std::wstring_view text) {
    auto unit = [&out](unsigned value) {
        out.push_back(static_cast<BYTE>(value & 0xFF));
        out.push_back(static_cast<BYTE>(value >> 8));
    };
    for (const wchar_t c : text) {
        const unsigned code = static_cast<unsigned>(c);
        if (code >= 0x10000) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    }
}

std::wstring_view Trim(std::wstring_view text) {
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() &&
           FoldRegistryName(text.substr(0, prefix.size())) == FoldRegistryName(prefix);
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// A key path of a section, checked and folded: a known root, then non-empty names.
std::wstring KeyPath(std::wstring_view path) {
    const size_t separator = path.find(L'\\');
    const std::wstring root = FoldRegistryName(path.substr(0, separator));
    bool known = false;
    for (std::wstring_view name : kRootKeys) {
        known = known || root == name;
    }
    if (!known) {
        throw ParseError{"a key must start with a root key such as HKEY_LOCAL_MACHINE"};
    }
    if (separator != std::wstring_view::npos) {
        std::wstring_view rest = path.substr(separator + 1);
        while (true) {
            const size_t next = rest.find(L'\\');
            if (rest.substr(0, next).empty()) {
                throw ParseError{"a key path has an empty name"};
            }
            if (next == std::wstring_view::npos) {
                break;
            }
            rest.remove_prefix(next + 1);
        }
    }
    return FoldRegistryName(path);
}

// Reads a quoted text starting at text[0] == '"'; *end is set past the closing quote.
std::wstring QuotedText(std::wstring_view text, size_t* end) {
    std::wstring value;
    for (size_t i = 1; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'"') {
            *end = i + 1;
            return value;
        }
        if (c == L'\\' && i + 1 < text.size()) {
            const wchar_t escaped = text[++i];
            switch (escaped) {
                case L'\\':
                case L'"':
                    value.push_back(escaped);
                    break;
                case L'n':
                    value.push_back(L'\n');
                    break;
                case L'r':
                    value.push_back(L'\r');
                    break;
                case L'0':
                    value.push_back(L'\0');
                    break;
                default:
                    // Not an escape regedit writes: kept as it stands.
                    value.push_back(L'\\');
                    value.push_back(escaped);
                    break;
            }
            continue;
        }
        value.push_back(c);
    }
    throw ParseError{"a quoted text has no closing quote"};
}

std::vector<BYTE> HexBytes(std::wstring_view list) {
    std::vector<BYTE> bytes;
    list = Trim(list);
    if (list.empty()) {
        return bytes;
    }
    while (true) {
        const size_t comma = list.find(L',');
        const std::wstring_view item = Trim(list.substr(0, comma));
        if (item.empty() || item.size() > 2 || HexDigit(item[0]) < 0 ||
            (item.size() == 2 && HexDigit(item[1]) < 0)) {
            throw ParseError{"hex data must be comma-separated pairs of hex digits"};
        }
        int value = HexDigit(item[0]);
        if (item.size() == 2) {
            value = value * 16 + HexDigit(item[1]);
        }
        bytes.push_back(static_cast<BYTE>(value));
        if (comma == std::wstring_view::npos) {
            return bytes;
        }
        list.remove_prefix(comma + 1);
    }
}

// The data of a value line after "=": std::nullopt for "-" (delete the value).
std::optional<RegistryValue> ValueData(std::wstring_view data, bool version5) {
    RegistryValue value;
    if (data == L"-") {
        return std::nullopt;
    }
    if (!data.empty() && data.front() == L'"') {
        size_t end = 0;
        const std::wstring text = QuotedText(data, &end);
        if (!Trim(data.substr(end)).empty()) {
            throw ParseError{"text follows a quoted value"};
        }
        value.type = REG_SZ;
        AppendUtf16(value.data, text);
        AppendUtf16(value.data, std::wstring_view(L"\0", 1));
        return value;
    }
    if (StartsWithNoCase(data, L"dword:")) {
        const std::wstring_view digits = data.substr(6);
        DWORD number = 0;
        if (digits.size() != 8) {
            throw ParseError{"dword: takes exactly 8 hex digits"};
        }
        for (const wchar_t c : digits) {
            if (HexDigit(c) < 0) {
                throw ParseError{"dword: takes exactly 8 hex digits"};
            }
            number = number * 16 + static_cast<DWORD>(HexDigit(c));
        }
        value.type = REG_DWORD;
        for (int shift = 0; shift < 32; shift += 8) {
            value.data.push_back(static_cast<BYTE>(number >> shift));
        }
        return value;
    }
    if (StartsWithNoCase(data, L"hex")) {
        std::wstring_view rest = data.substr(3);
        value.type = REG_BINARY;
        if (!rest.empty() && rest.front() == L'(') {
            const size_t close = rest.find(L')');
            if (close == std::wstring_view::npos || close == 1 || close > 9) {
                throw ParseError{"hex( needs a hex type number and )"};
            }
            DWORD type = 0;
            for (const wchar_t c : rest.substr(1, close - 1)) {
                if (HexDigit(c) < 0) {
                    throw ParseError{"hex( needs a hex type number and )"};
                }
                type = type * 16 + static_cast<DWORD>(HexDigit(c));
            }
            value.type = type;
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != L':') {
            throw ParseError{"hex data must follow \"hex:\" or \"hex(N):\""};
        }
        value.data = HexBytes(rest.substr(1));
        if (!version5 && (value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ)) {
            // REGEDIT4 writes these texts in the ANSI code page.
            const std::string ansi(value.data.begin(), value.data.end());
            const std::wstring text = DecodeCodePage(CP_ACP, 0, ansi);
            value.data.clear();
            AppendUtf16(value.data, text);
        }
        return value;
    }
    throw ParseError{"a value must be \"text\", dword:, hex: or hex(N):, or - to delete it"};
}

class RegFileParser {
  public:
    RegistryContent Parse(const std::wstring& text) {
        std::vector<std::wstring_view> lines = SplitLines(text);
        bool headerSeen = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            line_ = i + 1;
            std::wstring_view line = Trim(lines[i]);
            if (!headerSeen) {
                if (line.empty()) {
                    continue;
                }
                if (line != kVersion5Header && line != kVersion4Header) {
                    throw ParseError{
                        "the first line must be \"Windows Registry Editor Version "
                        "5.00\" or \"REGEDIT4\""};
                }
                version5_ = line == kVersion5Header;
                headerSeen = true;
                continue;
            }
            if (line.empty() || line.front() == L';') {
                continue;
            }
            if (line.front() == L'[') {
                Section(line);
                continue;
            }
            if (line.front() != L'"' && line.front() != L'@') {
                throw ParseError{"a line must be a [key], a value, a comment or blank"};
            }
            // A hex list goes on past a line that ends in a backslash.
            std::wstring joined(line);
            while (!joined.empty() && joined.back() == L'\\' && i + 1 < lines.size() &&
                   joined.find(L"=hex") != std::wstring::npos) {
                joined.pop_back();
                joined += Trim(lines[++i]);
            }
            Value(joined);
        }
        if (!headerSeen) {
            throw ParseError{"the file is empty"};
        }
        return std::move(content_);
    }

    size_t Line() const { return line_; }

  private:
    static std::vector<std::wstring_view> SplitLines(std::wstring_view text) {
        std::vector<std::wstring_view> lines;
        while (!text.empty()) {
            const size_t end = text.find(L'\n');
            std::wstring_view line = text.substr(0, end);
            if (!line.empty() && line.back() == L'\r') {
                line.remove_suffix(1);
            }
            lines.push_back(line);
            if (end == std::wstring_view::npos) {
                break;
            }
            text.remove_prefix(end + 1);
        }
        return lines;
    }

    void Section(std::wstring_view line) {
        if (line.back() != L']') {
            throw ParseError{"a key section must end with ]"};
        }
        std::wstring_view path = line.substr(1, line.size() - 2);
        if (!path.empty() && path.front() == L'-') {
            const std::wstring folded = KeyPath(path.substr(1));
            const std::wstring below = folded + L"\\";
            for (auto it = content_.keys.begin(); it != content_.keys.end();) {
                const bool goes =
                    it->first == folded || it->first.compare(0, below.size(), below) == 0;
                it = goes ? content_.keys.erase(it) : std::next(it);
            }
            // Values written under a deletion have no key to go to; an import ignores them.
            currentKey_.reset();
            inSection_ = true;
            return;
        }
        currentKey_ = KeyPath(path);
        for (size_t at = currentKey_->find(L'\\'); at != std::wstring::npos;
             at = currentKey_->find(L'\\', at + 1)) {
            content_.keys[currentKey_->substr(0, at)];
        }
        content_.keys[*currentKey_];
        inSection_ = true;
    }

    void Value(std::wstring_view line) {
        if (!inSection_) {
            throw ParseError{"a value comes before any [key]"};
        }
        std::wstring name;
        size_t at = 1;
        if (line.front() == L'"') {
            name = QuotedText(line, &at);
        }
        const std::wstring_view rest = Trim(line.substr(at));
        if (rest.empty() || rest.front() != L'=') {
            throw ParseError{"a value name must be followed by ="};
        }
        const std::optional<RegistryValue> value = ValueData(Trim(rest.substr(1)), version5_);
        if (!currentKey_) {
            return;
        }
        RegistryKey& key = content_.keys[*currentKey_];
        const std::wstring folded = FoldRegistryName(name);
        if (value) {
            key.values[folded] = *value;
        } else {
            key.values.erase(folded);
        }
    }

    RegistryContent content_;
    std::optional<std::wstring> currentKey_;
    bool inSection_ = false;
    bool version5_ = true;
    size_t line_ = 0;
};

}  // namespace

std::wstring FoldRegistryName(std::wstring_view name) {
    std::wstring folded(name);
    for (wchar_t& c : folded) {
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    return folded;
}

std::optional<RegistryContent> ParseRegFile(std::string_view bytes, std::string* reason) {
    RegFileParser parser;
    try {
        return parser.Parse(DecodeFile(bytes));
    } catch (const ParseError& error) {
        *reason = parser.Line() == 0
                      ? error.reason
                      : "line " + std::to_string(parser.Line()) + ": " + error.reason;
    }
    return std::nullopt;
}

}  // namespace zntr::platform::detail
