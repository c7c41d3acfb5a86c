// How the framework hands out a text (an instance ID, a file name, a version string) into a
// caller's buffer of wide characters: the one size rule its Retrieve* methods share.
#pragma once

#include <string_view>

#include "standin/windef.h"
#include "standin/winerror.h"

namespace zntr::host {

// *pdwSizeInChars is the buffer's size in characters. With a null buffer and a size of 0 the
// answer is S_OK and the size needed, NUL included; a buffer too small gets
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) and the size needed. A buffer large enough gets
// the text and its NUL, and the size becomes the characters written, NUL included. A null size
// pointer is E_POINTER; a null buffer with a non-zero size is E_INVALIDARG.
HRESULT RetrieveText(std::wstring_view text, PWSTR buffer, DWORD* pdwSizeInChars);

}  // namespace zntr::host
