#include "codepage_utf8.h"

#include <cstdint>

#include "standin/errhandlingapi.h"
#include "standin/stringapiset.h"
#include "standin/winerror.h"

namespace zntr::platform::detail {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// Appends one code point's bytes when there is room; always counts them.
bool PutUtf8(std::uint32_t code, LPSTR destination, int capacity, size_t& written) {
    unsigned char bytes[4];
    size_t count = 0;
    if (code < 0x80) {
        bytes[count++] = static_cast<unsigned char>(code);
    } else if (code < 0x800) {
        bytes[count++] = static_cast<unsigned char>(0xC0 | (code >> 6));
        bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        bytes[count++] = static_cast<unsigned char>(0xE0 | (code >> 12));
        bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    } else {
        bytes[count++] = static_cast<unsigned char>(0xF0 | (code >> 18));
        bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
        bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    }
    if (capacity != 0) {
        if (written + count > static_cast<size_t>(capacity)) {
            return false;
        }
        for (size_t i = 0; i < count; ++i) {
            destination[written + i] = static_cast<char>(bytes[i]);
        }
    }
    written += count;
    return true;
}

}  // namespace

// Invalid input (a stray continuation byte, an overlong form, an encoded surrogate, a value
// beyond U+10FFFF, a sequence cut short) becomes one U+FFFD for each maximal invalid part, as
// Windows does since Vista; with MB_ERR_INVALID_CHARS the call fails instead. WCHAR is 32 bits
// here, so a character beyond the Basic Multilingual Plane is one WCHAR, not a surrogate pair.
int Utf8ToWide(DWORD flags, const char* source, size_t length, LPWSTR destination, int capacity) {
    if ((flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    size_t written = 0;
    auto put = [&](std::uint32_t code) {
        if (capacity != 0) {
            if (written >= static_cast<size_t>(capacity)) {
                return false;
            }
            destination[written] = static_cast<WCHAR>(code);
        }
        ++written;
        return true;
    };
    for (size_t i = 0; i < length;) {
        const unsigned lead = bytes[i++];
        std::uint32_t code = lead;
        int needed = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            code = lead & 0x0F;
            low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
            high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            code = lead & 0x07;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing beyond U+10FFFF
        } else if (lead >= 0x80) {
            needed = -1;
        }
        bool valid = needed >= 0;
        for (int k = 0; valid && k < needed; ++k) {
            if (i >= length || bytes[i] < low || bytes[i] > high) {
                valid = false;  // the byte that broke the sequence starts the next one
                break;
            }
            code = (code << 6) | (bytes[i++] & 0x3Fu);
            low = 0x80;
            high = 0xBF;
        }
        if (!valid) {
            if (strict) {
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
            }
            code = kReplacement;
        }
        if (!put(code)) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
    }
    return static_cast<int>(written);
}

// A surrogate pair (as UTF-16 text would hold it) becomes its one character; a lone surrogate,
// or a value beyond U+10FFFF, becomes U+FFFD, or fails the call with WC_ERR_INVALID_CHARS.
int WideToUtf8(DWORD flags, const WCHAR* source, size_t length, LPSTR destination, int capacity) {
    if ((flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    const bool strict = (flags & WC_ERR_INVALID_CHARS) != 0;
    size_t written = 0;
    for (size_t i = 0; i < length; ++i) {
        std::uint32_t code = static_cast<std::uint32_t>(source[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length &&
            static_cast<std::uint32_t>(source[i + 1]) >= 0xDC00 &&
            static_cast<std::uint32_t>(source[i + 1]) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) +
                   (static_cast<std::uint32_t>(source[i + 1]) - 0xDC00);
            ++i;
        } else if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            if (strict) {
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
            }
            code = kReplacement;
        }
        if (!PutUtf8(code, destination, capacity, written)) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
    }
    return static_cast<int>(written);
}

}  // namespace zntr::platform::detail
