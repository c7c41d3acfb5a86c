// Counted strings (BSTR): the character count is kept, as a byte length, in the four bytes
// before the first character, and the text is NUL-terminated after it.
#pragma once

#include "standin/windef.h"

typedef OLECHAR* BSTR;

extern "C" {
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);
UINT SysStringByteLen(BSTR bstr);
}
