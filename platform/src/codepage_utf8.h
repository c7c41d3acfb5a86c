// UTF-8, the one code page besides the ANSI one that the stand-in converts. Internal to the
// platform library; MultiByteToWideChar and WideCharToMultiByte dispatch here after their
// common parameter checks.
#pragma once

#include <cstddef>

#include "standin/windef.h"

namespace zntr::platform::detail {

// Each return the count converted (or needed, for a size query), or 0 with the last error set.
int Utf8ToWide(DWORD flags, const char* source, size_t length, LPWSTR destination, int capacity);
int WideToUtf8(DWORD flags, const WCHAR* source, size_t length, LPSTR destination, int capacity);

}  // namespace zntr::platform::detail
