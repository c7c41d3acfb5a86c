// PROPVARIANT clearing and copying with the property system's ownership rules, and the
// initialisers of the helper library.
#include <cstring>
#include <cwchar>

#include "standin/combaseapi.h"
#include "standin/oleauto.h"
#include "standin/propidl.h"
#include "standin/propvarutil.h"

namespace {

// Every counted array of a vector has this layout: a 32-bit count, then the element pointer.
struct CountedArray {
    ULONG cElems;
    void* pElems;
};
static_assert(sizeof(CountedArray) == sizeof(CAUB));

CountedArray ReadArray(const PROPVARIANT& value) {
    CountedArray array;
    std::memcpy(&array, &value.caub, sizeof(array));
    return array;
}

void WriteArray(PROPVARIANT& value, const CountedArray& array) {
    std::memcpy(&value.caub, &array, sizeof(array));
}

// Size of one element of a vector of the base type, 0 for a type that has no vector form here.
size_t VectorElementSize(VARTYPE base) {
    switch (base) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_FILETIME:
            return 8;
        case VT_CLSID:
            return sizeof(CLSID);
        case VT_LPSTR:
        case VT_LPWSTR:
        case VT_BSTR:
            return sizeof(void*);
        default:
            return 0;
    }
}

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
    if ((vt & VT_VECTOR) != 0) {
        return (vt & ~VT_TYPEMASK) == VT_VECTOR && VectorElementSize(vt & VT_TYPEMASK) != 0;
    }
    switch (vt) {
        case VT_LPSTR:
        case VT_LPWSTR:
        case VT_BSTR:
        case VT_CLSID:
        case VT_BLOB:
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return true;
        default:
            return IsScalarType(vt);
    }
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

void* CopyString(const char* text, bool& failed) {
    return text == nullptr ? nullptr : CopyBytes(text, std::strlen(text) + 1, failed);
}

void* CopyWideString(const wchar_t* text, bool& failed) {
    return text == nullptr ? nullptr
                           : CopyBytes(text, (std::wcslen(text) + 1) * sizeof(wchar_t), failed);
}

BSTR CopyBstr(BSTR text, bool& failed) {
    if (text == nullptr) {
        return nullptr;
    }
    BSTR copy = SysAllocStringLen(text, SysStringLen(text));
    failed = failed || copy == nullptr;
    return copy;
}

// Frees the elements a vector owns one by one (its strings), not the element array.
void FreeVectorElements(VARTYPE base, const CountedArray& array) {
    for (ULONG i = 0; i < array.cElems; ++i) {
        void* element = nullptr;
        std::memcpy(&element, static_cast<BYTE*>(array.pElems) + i * sizeof(void*),
                    sizeof(element));
        if (base == VT_BSTR) {
            SysFreeString(static_cast<BSTR>(element));
        } else {
            CoTaskMemFree(element);
        }
    }
}

bool OwnsElements(VARTYPE base) {
    return base == VT_LPSTR || base == VT_LPWSTR || base == VT_BSTR;
}

// Deep copy of a vector into dest (which already holds the source's bytes). A vector of strings
// gets its element array zeroed first and filled one copy at a time, so that a copy that fails
// half-way owns only what it made and can be cleared.
void CopyVector(VARTYPE base, const PROPVARIANT& source, PROPVARIANT& dest, bool& failed) {
    const CountedArray from = ReadArray(source);
    CountedArray to = {from.cElems, nullptr};
    const size_t bytes = VectorElementSize(base) * from.cElems;
    // An empty vector's copy has no element array.
    if (from.cElems > 0 && from.pElems != nullptr) {
        if (!OwnsElements(base)) {
            to.pElems = CopyBytes(from.pElems, bytes, failed);
        } else if ((to.pElems = CoTaskMemAlloc(bytes)) == nullptr) {
            failed = true;
        } else {
            std::memset(to.pElems, 0, bytes);
            for (ULONG i = 0; i < from.cElems && !failed; ++i) {
                void* element = nullptr;
                std::memcpy(&element, static_cast<BYTE*>(from.pElems) + i * sizeof(void*),
                            sizeof(element));
                if (base == VT_LPSTR) {
                    element = CopyString(static_cast<const char*>(element), failed);
                } else if (base == VT_LPWSTR) {
                    element = CopyWideString(static_cast<const wchar_t*>(element), failed);
                } else {
                    element = CopyBstr(static_cast<BSTR>(element), failed);
                }
                std::memcpy(static_cast<BYTE*>(to.pElems) + i * sizeof(void*), &element,
                            sizeof(element));
            }
        }
    }
    WriteArray(dest, to);
}

}  // namespace

// Frees what the value owns and zeroes it. A type the property system does not know is not
// freed (it cannot be): the value is zeroed all the same and STG_E_INVALIDPARAMETER returned.
extern "C" HRESULT PropVariantClear(PROPVARIANT* pvar) {
    if (pvar == nullptr) {
        return S_OK;
    }
    const VARTYPE vt = pvar->vt;
    if (!IsKnownType(vt)) {
        PropVariantInit(pvar);
        return STG_E_INVALIDPARAMETER;
    }
    if ((vt & VT_VECTOR) != 0) {
        const VARTYPE base = vt & VT_TYPEMASK;
        const CountedArray array = ReadArray(*pvar);
        if (array.pElems != nullptr && OwnsElements(base)) {
            FreeVectorElements(base, array);
        }
        CoTaskMemFree(array.pElems);
    } else {
        switch (vt) {
            case VT_LPSTR:
                CoTaskMemFree(pvar->pszVal);
                break;
            case VT_LPWSTR:
                CoTaskMemFree(pvar->pwszVal);
                break;
            case VT_CLSID:
                CoTaskMemFree(pvar->puuid);
                break;
            case VT_BSTR:
                SysFreeString(pvar->bstrVal);
                break;
            case VT_BLOB:
                CoTaskMemFree(pvar->blob.pBlobData);
                break;
            // IDispatch begins with IUnknown's slots: a dispatch interface is released alike.
            case VT_UNKNOWN:
            case VT_DISPATCH:
                if (pvar->punkVal != nullptr) {
                    pvar->punkVal->Release();
                }
                break;
            default:
                break;
        }
    }
    PropVariantInit(pvar);
    return S_OK;
}

// A deep copy: new strings, GUID, blob and element arrays, a further reference on an interface.
// Like Windows, the destination is overwritten without being cleared first. Windows faults on a
// null pointer; here it is refused with E_INVALIDARG.
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
    const VARTYPE vt = pvarSrc->vt;
    if ((vt & VT_VECTOR) != 0) {
        CopyVector(vt & VT_TYPEMASK, *pvarSrc, copy, failed);
    } else {
        switch (vt) {
            case VT_LPSTR:
                copy.pszVal = static_cast<LPSTR>(CopyString(pvarSrc->pszVal, failed));
                break;
            case VT_LPWSTR:
                copy.pwszVal = static_cast<LPWSTR>(CopyWideString(pvarSrc->pwszVal, failed));
                break;
            case VT_CLSID:
                copy.puuid = static_cast<CLSID*>(CopyBytes(pvarSrc->puuid, sizeof(CLSID), failed));
                break;
            case VT_BSTR:
                copy.bstrVal = CopyBstr(pvarSrc->bstrVal, failed);
                break;
            case VT_BLOB:
                copy.blob.pBlobData = static_cast<BYTE*>(
                    CopyBytes(pvarSrc->blob.pBlobData, pvarSrc->blob.cbSize, failed));
                break;
            case VT_UNKNOWN:
            case VT_DISPATCH:
                if (copy.punkVal != nullptr) {
                    copy.punkVal->AddRef();
                }
                break;
            default:
                break;
        }
    }
    if (failed) {
        // Whatever was copied before the allocation failed goes with the partial copy.
        PropVariantClear(&copy);
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
