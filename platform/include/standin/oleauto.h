// Counted strings (BSTR): the character count is kept, as a byte length, in the four bytes
// before the first character, and the text is NUL-terminated after it.
#pragma once

#include "standin/windef.h"

typedef OLECHAR* BSTR;

extern "C" {
BSTR SysAllocString(const OLECHAR* psz);
void SysFreeString(BSTR bstrString);
}
