#include <cstring>
#include <cwchar>

#include "codepage_utf8.h"
#include "standin/errhandlingapi.h"
#include "standin/stringapiset.h"
#include "standin/winerror.h"

namespace {

// Windows-1252 bytes 0x80 to 0x9F. The five bytes the code page leaves undefined (81, 8D, 8F,
// 90, 9D) map to the C1 controls of the same value, as Windows' table does, so every byte
// converts and MB_ERR_INVALID_CHARS never fails.
constexpr wchar_t kHighControlRange[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr wchar_t ToWide(unsigned char byte) {
    return (byte >= 0x80 && byte <= 0x9F) ? kHighControlRange[byte - 0x80]
                                          : static_cast<wchar_t>(byte);
}

int HighRangeByte(wchar_t c) {
    for (int i = 0; i < 32; ++i) {
        if (kHighControlRange[i] == c) {
            return 0x80 + i;
        }
    }
    return -1;
}

// The 1252 byte of a character, or -1 when the code page has none.
inline int ToByte(wchar_t c) {
    const auto code = static_cast<std::uint32_t>(c);
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) [[likely]] {
        return static_cast<int>(code);
    }
    return HighRangeByte(c);
}

bool IsAnsiCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == 1252;
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr,
                                   int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 ||
        (lpWideCharStr == nullptr && cchWideChar != 0) || cchWideChar < 0 ||
        static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // A negative length means "up to and including the terminating NUL".
    const size_t length =
        cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    if (CodePage == CP_UTF8) {
        return zntr::platform::detail::Utf8ToWide(dwFlags, lpMultiByteStr, length, lpWideCharStr,
                                                  cchWideChar);
    }
    if (!IsAnsiCodePage(CodePage)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    constexpr DWORD kValidFlags =
        MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
    if ((dwFlags & ~kValidFlags) != 0 ||
        ((dwFlags & MB_PRECOMPOSED) != 0 && (dwFlags & MB_COMPOSITE) != 0)) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    if (cchWideChar == 0) {
        return static_cast<int>(length);
    }
    if (length > static_cast<size_t>(cchWideChar)) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    for (size_t i = 0; i < length; ++i) {
        lpWideCharStr[i] = ToWide(bytes[i]);
    }
    return static_cast<int>(length);
}

// Characters without a 1252 byte become the default character. Windows would first try a
// "best fit" look-alike (for example A for U+0100) unless WC_NO_BEST_FIT_CHARS is given; the
// stand-in has no best-fit table and always uses the default character. Text that came from
// MultiByteToWideChar with this code page converts back byte for byte either way.
extern "C" int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr,
                                   int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                   LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    if (lpWideCharStr == nullptr || cchWideChar == 0 ||
        (lpMultiByteStr == nullptr && cbMultiByte != 0) || cbMultiByte < 0 ||
        static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const size_t length =
        cchWideChar < 0 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    if (CodePage == CP_UTF8) {
        // UTF-8 has no default character: asking for one is an invalid parameter.
        if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        return zntr::platform::detail::WideToUtf8(dwFlags, lpWideCharStr, length, lpMultiByteStr,
                                                  cbMultiByte);
    }
    if (!IsAnsiCodePage(CodePage)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    constexpr DWORD kValidFlags =
        WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_NO_BEST_FIT_CHARS;
    if ((dwFlags & ~kValidFlags) != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    const char defaultChar = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
    bool usedDefault = false;
    if (cbMultiByte != 0 && length > static_cast<size_t>(cbMultiByte)) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // ASCII text, the usual case, converts by narrowing each character; both loops vectorise.
    std::uint32_t all = 0;
    for (size_t i = 0; i < length; ++i) {
        all |= static_cast<std::uint32_t>(lpWideCharStr[i]);
    }
    if (all < 0x80) {
        if (cbMultiByte != 0) {
            for (size_t i = 0; i < length; ++i) {
                lpMultiByteStr[i] = static_cast<char>(lpWideCharStr[i]);
            }
        }
        if (lpUsedDefaultChar != nullptr) {
            *lpUsedDefaultChar = FALSE;
        }
        return static_cast<int>(length);
    }
    for (size_t i = 0; i < length; ++i) {
        const int byte = ToByte(lpWideCharStr[i]);
        usedDefault |= byte < 0;
        if (cbMultiByte != 0) {
            lpMultiByteStr[i] = byte < 0 ? defaultChar : static_cast<char>(byte);
        }
    }
    if (lpUsedDefaultChar != nullptr) {
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    return static_cast<int>(length);
}
