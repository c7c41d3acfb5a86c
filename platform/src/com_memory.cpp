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

extern "C" void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

namespace {

// The length prefix is a 32-bit byte count just before the first character.
constexpr size_t kPrefix = sizeof(DWORD);

}  // namespace

// A null text gives a null BSTR; "" gives a zero-length BSTR, which is not null. The byte count
// is kept in the four bytes before the first character, and the text is NUL-terminated.
extern "C" BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) {
        return nullptr;
    }
    const DWORD bytes = static_cast<DWORD>(std::wcslen(psz) * sizeof(OLECHAR));
    BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(kPrefix + bytes + sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    std::memcpy(block, &bytes, sizeof(bytes));
    std::memcpy(block + kPrefix, psz, bytes + sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(block + kPrefix);
}

extern "C" void SysFreeString(BSTR bstrString) {
    if (bstrString != nullptr) {
        CoTaskMemFree(reinterpret_cast<BYTE*>(bstrString) - kPrefix);
    }
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
