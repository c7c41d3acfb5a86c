// Shell light-weight utilities: the one string helper the driver uses.
#pragma once

#include "standin/windef.h"
#include "standin/winerror.h"

extern "C" {
// A copy of the text allocated with CoTaskMemAlloc (free it with CoTaskMemFree).
HRESULT SHStrDupW(LPCWSTR psz, LPWSTR* ppwsz);
}
