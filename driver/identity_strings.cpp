#include "identity_strings.h"

#include <cwctype>

std::wstring GetToken(std::wstring_view text, WCHAR delimiter, size_t number) {
    size_t start = 0;
    for (size_t found = 0; number > 0 && start < text.size(); ++found) {
        start = text.find_first_not_of(delimiter, start);
        if (start == std::wstring_view::npos) {
            break;
        }
        const size_t end = std::min(text.find(delimiter, start), text.size());
        if (found + 1 == number) {
            return std::wstring(text.substr(start, end - start));
        }
        start = end;
    }
    return std::wstring();
}

void LowerCase(std::wstring& text) {
    for (WCHAR& c : text) {
        c = static_cast<WCHAR>(towlower(static_cast<wint_t>(c)));
    }
}
