// propsys.dll for the Wine test setting: the two exports ZntrLocation.dll imports from it,
// implemented as Windows documents them. Wine 8's own InitPropVariantFromFileTime is a stub that
// ends the calling program; Wine loads this DLL in place of its own when WINEDLLOVERRIDES says
// "propsys=n" (cmake/run-under-wine, scripts/run-windows-demo). Nothing else of propsys is here,
// so it serves programs that import only these two.
#include <windows.h>

#include <objbase.h>
#include <propidl.h>

#include <cstring>

extern "C" {

// A VT_FILETIME value holding *pftIn.
HRESULT WINAPI InitPropVariantFromFileTime(const FILETIME* pftIn, PROPVARIANT* ppropvar) {
    if (pftIn == nullptr || ppropvar == nullptr) {
        return E_INVALIDARG;
    }
    PropVariantInit(ppropvar);
    ppropvar->vt = VT_FILETIME;
    ppropvar->filetime = *pftIn;
    return S_OK;
}

// A VT_VECTOR | VT_UI1 value holding a copy of the cb bytes at pv, in memory of
// CoTaskMemAlloc (PropVariantClear frees it); E_OUTOFMEMORY leaves the value empty.
HRESULT WINAPI InitPropVariantFromBuffer(const VOID* pv, UINT cb, PROPVARIANT* ppropvar) {
    if (ppropvar == nullptr || (pv == nullptr && cb != 0)) {
        return E_INVALIDARG;
    }
    PropVariantInit(ppropvar);
    void* copy = CoTaskMemAlloc(cb);
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    if (cb != 0) {
        std::memcpy(copy, pv, cb);
    }
    ppropvar->vt = VT_VECTOR | VT_UI1;
    ppropvar->caub.cElems = cb;
    ppropvar->caub.pElems = static_cast<UCHAR*>(copy);
    return S_OK;
}

}  // extern "C"
