// PROPVARIANT clearing and copying with the property system's ownership rules, and the
// initialisers of the helper library.
#include <cstring>
#include <cwchar>

#include "standin/combaseapi.h"
#include "standin/propidl.h"
#include "standin/propvarutil.h"

namespace {

bool IsScalarType(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_R4:
        case VT_R8:
        case VT_BOOL:
        case VT_ERROR:
        case VT_FILETIME:
            return true;
        default:
            return false;
    }
}

bool IsKnownType(VARTYPE vt) {
    return IsScalarType(vt) || vt == VT_LPWSTR || vt == VT_CLSID || vt == (VT_VECTOR | VT_UI1);
}

// A CoTaskMemAlloc copy of bytes; null for a null source.
void* CopyBytes(const void* source, size_t bytes, bool& failed) {
    if (source == nullptr) {
        return nullptr;
    }
    void* copy = CoTaskMemAlloc(bytes);
    if (copy == nullptr) {
        failed = true;
        return nullptr;
    }
    std::memcpy(copy, source, bytes);
    return copy;
}

}  // namespace

// Frees what the value owns and zeroes it. A type the stand-in does not know is not freed (it
// cannot be): the value is zeroed all the same and STG_E_INVALIDPARAMETER returned, as Windows
// answers a type it does not know.
extern "C" HRESULT PropVariantClear(PROPVARIANT* pvar) {
    if (pvar == nullptr) {
        return S_OK;
    }
    const VARTYPE vt = pvar->vt;
    if (!IsKnownType(vt)) {
        PropVariantInit(pvar);
        return STG_E_INVALIDPARAMETER;
    }
    switch (vt) {
        case VT_LPWSTR:
            CoTaskMemFree(pvar->pwszVal);
            break;
        case VT_CLSID:
            CoTaskMemFree(pvar->puuid);
            break;
        case VT_VECTOR | VT_UI1:
            CoTaskMemFree(pvar->caub.pElems);
            break;
        default:
            break;
    }
    PropVariantInit(pvar);
    return S_OK;
}

// A deep copy: a new string, GUID or element array. Like
// Windows, the destination is overwritten without being cleared first, and an empty vector's
// copy has no element array. Windows faults on a null pointer; here it is refused with
// E_INVALIDARG.
extern "C" HRESULT PropVariantCopy(PROPVARIANT* pvarDest, const PROPVARIANT* pvarSrc) {
    if (pvarDest == nullptr || pvarSrc == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsKnownType(pvarSrc->vt)) {
        return DISP_E_BADVARTYPE;
    }
    PROPVARIANT copy;
    std::memcpy(static_cast<void*>(&copy), pvarSrc, sizeof(copy));
    bool failed = false;
    switch (pvarSrc->vt) {
        case VT_LPWSTR:
            copy.pwszVal = pvarSrc->pwszVal == nullptr
                               ? nullptr
                               : static_cast<LPWSTR>(CopyBytes(
                                     pvarSrc->pwszVal,
                                     (std::wcslen(pvarSrc->pwszVal) + 1) * sizeof(WCHAR), failed));
            break;
        case VT_CLSID:
            copy.puuid = static_cast<CLSID*>(CopyBytes(pvarSrc->puuid, sizeof(CLSID), failed));
            break;
        case VT_VECTOR | VT_UI1:
            copy.caub.pElems = pvarSrc->caub.cElems == 0
                                   ? nullptr
                                   : static_cast<UCHAR*>(CopyBytes(pvarSrc->caub.pElems,
                                                                   pvarSrc->caub.cElems, failed));
            break;
        default:
            break;
    }
    if (failed) {
        PropVariantInit(pvarDest);
        return E_OUTOFMEMORY;
    }
    std::memcpy(static_cast<void*>(pvarDest), &copy, sizeof(copy));
    return S_OK;
}

extern "C" HRESULT InitPropVariantFromFileTime(const FILETIME* pftIn, PROPVARIANT* ppropvar) {
    if (pftIn == nullptr || ppropvar == nullptr) {
        return E_INVALIDARG;
    }
    PropVariantInit(ppropvar);
    ppropvar->vt = VT_FILETIME;
    ppropvar->filetime = *pftIn;
    return S_OK;
}

// Like Windows, the previous value is overwritten, not cleared; zero bytes give a valid empty
// element array.
extern "C" HRESULT InitPropVariantFromBuffer(const void* pv, UINT cb, PROPVARIANT* ppropvar) {
    if (ppropvar == nullptr || (pv == nullptr && cb != 0)) {
        return E_INVALIDARG;
    }
    auto* bytes = static_cast<UCHAR*>(CoTaskMemAlloc(cb));
    if (bytes == nullptr) {
        PropVariantInit(ppropvar);
        return E_OUTOFMEMORY;
    }
    if (cb != 0) {
        std::memcpy(bytes, pv, cb);
    }
    PropVariantInit(ppropvar);
    ppropvar->vt = VT_VECTOR | VT_UI1;
    ppropvar->caub.cElems = cb;
    ppropvar->caub.pElems = bytes;
    return S_OK;
}
