// PROPVARIANT initialisers of the property system's helper library.
#pragma once

#include "standin/propidl.h"

extern "C" {
// VT_FILETIME holding the given time.
HRESULT InitPropVariantFromFileTime(const FILETIME* pftIn, PROPVARIANT* ppropvar);
// VT_VECTOR | VT_UI1 holding a CoTaskMemAlloc copy of the cb bytes at pv.
HRESULT InitPropVariantFromBuffer(const void* pv, UINT cb, PROPVARIANT* ppropvar);
}
