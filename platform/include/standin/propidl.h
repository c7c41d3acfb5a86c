// PROPVARIANT: a tagged value as the Windows property system lays it out (the type in the first
// two bytes, three reserved words, the value at offset 8; 24 bytes on a 64-bit target).
//
// Ownership is Windows': strings (VT_LPSTR, VT_LPWSTR), the GUID of VT_CLSID, blobs and vector
// elements are allocated with CoTaskMemAlloc, counted strings with SysAllocString, interfaces
// hold a reference; PropVariantClear frees what the value owns and leaves VT_EMPTY behind.
//
// The stand-in knows the scalar types, the string types, VT_CLSID, VT_FILETIME, VT_BLOB,
// VT_UNKNOWN and VT_DISPATCH (both hold a reference, reached through punkVal) and vectors of
// scalars, strings, GUIDs and FILETIMEs. Other types (VT_CY, VT_DATE, VT_DECIMAL, by-reference
// values, vectors of PROPVARIANT) are refused as an unknown type is on Windows; so are arrays
// (VT_ARRAY), which Windows destroys with SafeArrayDestroy and the stand-in, which has no
// SAFEARRAY, cannot.
#pragma once

#include "standin/oleauto.h"
#include "standin/timeapi.h"
#include "standin/unknwn.h"
#include "standin/windef.h"
#include "standin/winerror.h"

typedef unsigned short VARTYPE;
typedef short VARIANT_BOOL;
#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_FILETIME = 64,
    VT_BLOB = 65,
    VT_CLSID = 72,
    VT_VECTOR = 0x1000,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_RESERVED = 0x8000,
    VT_ILLEGAL = 0xFFFF,
    VT_ILLEGALMASKED = 0x0FFF,
    VT_TYPEMASK = 0x0FFF,
};

typedef struct tagBLOB {
    ULONG cbSize;
    BYTE* pBlobData;
} BLOB;

// Counted arrays of VT_VECTOR values: cElems elements at pElems.
#define ZNTR_COUNTED_ARRAY(Name, Element) \
    typedef struct tag##Name {            \
        ULONG cElems;                     \
        Element* pElems;                  \
    } Name
ZNTR_COUNTED_ARRAY(CAC, CHAR);
ZNTR_COUNTED_ARRAY(CAUB, UCHAR);
ZNTR_COUNTED_ARRAY(CAI, SHORT);
ZNTR_COUNTED_ARRAY(CAUI, USHORT);
ZNTR_COUNTED_ARRAY(CAL, LONG);
ZNTR_COUNTED_ARRAY(CAUL, ULONG);
ZNTR_COUNTED_ARRAY(CAH, LARGE_INTEGER);
ZNTR_COUNTED_ARRAY(CAUH, ULARGE_INTEGER);
ZNTR_COUNTED_ARRAY(CAFLT, FLOAT);
ZNTR_COUNTED_ARRAY(CADBL, DOUBLE);
ZNTR_COUNTED_ARRAY(CABOOL, VARIANT_BOOL);
ZNTR_COUNTED_ARRAY(CASCODE, SCODE);
ZNTR_COUNTED_ARRAY(CAFILETIME, FILETIME);
ZNTR_COUNTED_ARRAY(CACLSID, CLSID);
ZNTR_COUNTED_ARRAY(CALPSTR, LPSTR);
ZNTR_COUNTED_ARRAY(CALPWSTR, LPWSTR);
ZNTR_COUNTED_ARRAY(CABSTR, BSTR);
#undef ZNTR_COUNTED_ARRAY

typedef struct tagPROPVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        CHAR cVal;
        UCHAR bVal;
        SHORT iVal;
        USHORT uiVal;
        LONG lVal;
        ULONG ulVal;
        INT intVal;
        UINT uintVal;
        LARGE_INTEGER hVal;
        ULARGE_INTEGER uhVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        FILETIME filetime;
        CLSID* puuid;
        BLOB blob;
        BSTR bstrVal;
        LPSTR pszVal;
        LPWSTR pwszVal;
        IUnknown* punkVal;
        CAC cac;
        CAUB caub;
        CAI cai;
        CAUI caui;
        CAL cal;
        CAUL caul;
        CAH cah;
        CAUH cauh;
        CAFLT caflt;
        CADBL cadbl;
        CABOOL cabool;
        CASCODE cascode;
        CAFILETIME cafiletime;
        CACLSID cauuid;
        CALPSTR calpstr;
        CALPWSTR calpwstr;
        CABSTR cabstr;
    };
} PROPVARIANT;
typedef PROPVARIANT* LPPROPVARIANT;
typedef const PROPVARIANT& REFPROPVARIANT;

static_assert(sizeof(PROPVARIANT) == 24, "PROPVARIANT is 24 bytes on a 64-bit target");

// All bytes zero: VT_EMPTY, owning nothing.
inline void PropVariantInit(PROPVARIANT* pvar) {
    std::memset(static_cast<void*>(pvar), 0, sizeof(PROPVARIANT));
}

extern "C" {
HRESULT PropVariantClear(PROPVARIANT* pvar);
HRESULT PropVariantCopy(PROPVARIANT* pvarDest, const PROPVARIANT* pvarSrc);
}
