// GUIDs: new random ones, and the registry text form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// (38 characters, upper-case hexadecimal when written; either case when read).
#include <cstdio>
#include <cstring>
#include <random>

#include "standin/combaseapi.h"

namespace {

constexpr int kGuidTextLength = 38;

void FormatGuid(REFGUID guid, WCHAR (&text)[kGuidTextLength + 1]) {
    char narrow[kGuidTextLength + 1];
    std::snprintf(narrow, sizeof(narrow), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    for (int i = 0; i <= kGuidTextLength; ++i) {
        text[i] = static_cast<unsigned char>(narrow[i]);
    }
}

int HexValue(WCHAR c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    return -1;
}

// Reads count hexadecimal digits at text; false when one is not a digit.
bool ReadHex(LPCOLESTR text, int count, unsigned long long& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0) {
            return false;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return true;
}

// The braced form only, with the NUL right after the closing brace.
bool ParseGuid(LPCOLESTR text, GUID& guid) {
    for (int i = 0; i < kGuidTextLength; ++i) {
        if (text[i] == L'\0') {
            return false;
        }
    }
    if (text[0] != L'{' || text[9] != L'-' || text[14] != L'-' || text[19] != L'-' ||
        text[24] != L'-' || text[37] != L'}' || text[38] != L'\0') {
        return false;
    }
    unsigned long long value = 0;
    if (!ReadHex(text + 1, 8, value)) {
        return false;
    }
    guid.Data1 = static_cast<std::uint32_t>(value);
    if (!ReadHex(text + 10, 4, value)) {
        return false;
    }
    guid.Data2 = static_cast<std::uint16_t>(value);
    if (!ReadHex(text + 15, 4, value)) {
        return false;
    }
    guid.Data3 = static_cast<std::uint16_t>(value);
    static constexpr int kByteOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text + kByteOffsets[i], 2, value)) {
            return false;
        }
        guid.Data4[i] = static_cast<std::uint8_t>(value);
    }
    return true;
}

}  // namespace

// A random (version 4) GUID, its 122 random bits straight from the system's random source.
extern "C" HRESULT CoCreateGuid(GUID* pguid) {
    if (pguid == nullptr) {
        return E_INVALIDARG;
    }
    std::random_device source;
    std::uint32_t words[4];
    for (std::uint32_t& word : words) {
        word = static_cast<std::uint32_t>(source());
    }
    std::memcpy(pguid, words, sizeof(words));
    pguid->Data3 = static_cast<std::uint16_t>((pguid->Data3 & 0x0FFF) | 0x4000);
    pguid->Data4[0] = static_cast<std::uint8_t>((pguid->Data4[0] & 0x3F) | 0x80);
    return S_OK;
}

// The text is allocated with CoTaskMemAlloc. Windows faults on a null result pointer; here it is
// refused with E_INVALIDARG.
extern "C" HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (lplpsz == nullptr) {
        return E_INVALIDARG;
    }
    *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidTextLength + 1) * sizeof(OLECHAR)));
    if (*lplpsz == nullptr) {
        return E_OUTOFMEMORY;
    }
    WCHAR text[kGuidTextLength + 1];
    FormatGuid(rclsid, text);
    std::memcpy(*lplpsz, text, sizeof(text));
    return S_OK;
}

// The number of characters written with the NUL (39), or 0 when the buffer is too small.
extern "C" int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (lpsz == nullptr || cchMax < kGuidTextLength + 1) {
        return 0;
    }
    WCHAR text[kGuidTextLength + 1];
    FormatGuid(rguid, text);
    std::memcpy(lpsz, text, sizeof(text));
    return kGuidTextLength + 1;
}

// A null text is CLSID_NULL. Any text that is not a braced GUID would be looked up as a ProgID
// in the registry; there are no ProgIDs here, so it is the badly formatted string it would be
// without one: CO_E_CLASSSTRING, with the result cleared.
extern "C" HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (pclsid == nullptr) {
        return E_INVALIDARG;
    }
    *pclsid = CLSID_NULL;
    if (lpsz == nullptr) {
        return S_OK;
    }
    GUID guid;
    if (!ParseGuid(lpsz, guid)) {
        return CO_E_CLASSSTRING;
    }
    *pclsid = guid;
    return S_OK;
}
