// The COM task memory allocator, counted strings and the shell's string duplicate.
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "standin/combaseapi.h"
#include "standin/oleauto.h"
#include "standin/shlwapi.h"

// A request for 0 bytes returns a valid, distinct block, as on Windows.
extern "C" LPVOID CoTaskMemAlloc(SIZE_T cb) {
    return std::malloc(cb == 0 ? 1 : cb);
}

extern "C" LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    return std::realloc(pv, cb == 0 ? 1 : cb);
}

extern "C" void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

namespace {

// The length prefix is a 32-bit byte count just before the first character.
constexpr size_t kPrefix = sizeof(DWORD);

DWORD* Prefix(BSTR text) {
    return reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(text) - kPrefix);
}

}  // namespace

// A null text gives a null BSTR; "" gives a zero-length BSTR, which is not null.
extern "C" BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) {
        return nullptr;
    }
    return SysAllocStringLen(psz, static_cast<UINT>(std::wcslen(psz)));
}

// ui characters copied from strIn, or left zero when strIn is null; always NUL-terminated.
extern "C" BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    const size_t bytes = static_cast<size_t>(ui) * sizeof(OLECHAR);
    BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(kPrefix + bytes + sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    const DWORD byteLength = static_cast<DWORD>(bytes);
    std::memcpy(block, &byteLength, sizeof(byteLength));
    BSTR text = reinterpret_cast<BSTR>(block + kPrefix);
    if (strIn != nullptr) {
        std::memcpy(text, strIn, bytes);
    } else {
        std::memset(text, 0, bytes);
    }
    text[ui] = L'\0';
    return text;
}

extern "C" void SysFreeString(BSTR bstrString) {
    if (bstrString != nullptr) {
        CoTaskMemFree(Prefix(bstrString));
    }
}

extern "C" UINT SysStringByteLen(BSTR bstr) {
    return bstr == nullptr ? 0 : *Prefix(bstr);
}

extern "C" UINT SysStringLen(BSTR pbstr) {
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

// The result is cleared before anything else, so a caller never sees a stale pointer.
extern "C" HRESULT SHStrDupW(LPCWSTR psz, LPWSTR* ppwsz) {
    if (ppwsz == nullptr) {
        return E_INVALIDARG;
    }
    *ppwsz = nullptr;
    if (psz == nullptr) {
        return E_INVALIDARG;
    }
    const size_t bytes = (std::wcslen(psz) + 1) * sizeof(WCHAR);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(copy, psz, bytes);
    *ppwsz = copy;
    return S_OK;
}
