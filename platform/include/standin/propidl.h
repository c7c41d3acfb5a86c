// PROPVARIANT: a tagged value as the Windows property system lays it out (the type in the first
// two bytes, three reserved words, the value at offset 8; 24 bytes on a 64-bit target).
//
// Ownership is Windows': strings (VT_LPWSTR), the GUID of VT_CLSID and the elements of a byte
// vector are allocated with CoTaskMemAlloc; PropVariantClear frees what the value owns and
// leaves VT_EMPTY behind.
//
// The stand-in knows the types the programs use: the scalar types, VT_LPWSTR, VT_CLSID,
// VT_FILETIME and VT_VECTOR | VT_UI1. Any other type is refused as Windows refuses a type it does
// not know (Windows knows more: interfaces, counted strings, blobs, other vectors, arrays).
#pragma once

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

// The counted array of a VT_VECTOR | VT_UI1 value: cElems bytes at pElems.
typedef struct tagCAUB {
    ULONG cElems;
    UCHAR* pElems;
} CAUB;

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
        LPWSTR pwszVal;
        CAUB caub;
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
