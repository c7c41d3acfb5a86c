// Device properties of the unified property model: a property key is a GUID and a property id,
// and every value read comes with its DEVPROPTYPE.
#pragma once

#include "standin/windef.h"

typedef ULONG DEVPROPTYPE;
typedef DEVPROPTYPE* PDEVPROPTYPE;
typedef ULONG DEVPROPID;
typedef GUID DEVPROPGUID;

typedef struct _DEVPROPKEY {
    DEVPROPGUID fmtid;
    DEVPROPID pid;
} DEVPROPKEY;

// Base types, and the modifiers that make lists and arrays of them.
#define DEVPROP_TYPE_EMPTY 0x00000000u
#define DEVPROP_TYPE_NULL 0x00000001u
#define DEVPROP_TYPE_UINT32 0x00000007u
#define DEVPROP_TYPE_GUID 0x0000000Du
#define DEVPROP_TYPE_STRING 0x00000012u
#define DEVPROP_TYPEMOD_ARRAY 0x00001000u
#define DEVPROP_TYPEMOD_LIST 0x00002000u
#define DEVPROP_TYPE_STRING_LIST (DEVPROP_TYPE_STRING | DEVPROP_TYPEMOD_LIST)

inline bool IsEqualDevPropKey(const DEVPROPKEY& a, const DEVPROPKEY& b) {
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}
