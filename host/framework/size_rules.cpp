#include "size_rules.h"

#include <algorithm>

namespace zntr::host {

HRESULT RetrieveText(std::wstring_view text, PWSTR buffer, DWORD* pdwSizeInChars) {
    if (pdwSizeInChars == nullptr) {
        return E_POINTER;
    }
    const auto needed = static_cast<DWORD>(text.size() + 1);
    if (buffer == nullptr) {
        if (*pdwSizeInChars != 0) {
            return E_INVALIDARG;
        }
        *pdwSizeInChars = needed;
        return S_OK;
    }
    if (*pdwSizeInChars < needed) {
        *pdwSizeInChars = needed;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
    *pdwSizeInChars = needed;
    return S_OK;
}

}  // namespace zntr::host
