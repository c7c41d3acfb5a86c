// The registry, read side: opening a key, reading a value, closing the key. The stand-in's
// registry is the content of one .reg file (see registry_control.h for which file), read again
// each time a key is opened; an open key keeps what it found then. Writing is not offered.
//
// As on Windows, these functions return the Win32 error code itself and do not set the last
// error: ERROR_FILE_NOT_FOUND for a missing key or value, ERROR_MORE_DATA (with the size needed)
// for a buffer that is too small.
#pragma once

#include "standin/windef.h"
#include "standin/winerror.h"

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef LONG LSTATUS;
typedef DWORD REGSAM;

// The predefined keys are 32-bit values with the high bit set, sign-extended to a pointer.
#define ZNTR_PREDEFINED_HKEY(value) \
    (reinterpret_cast<HKEY>(        \
        static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(value)))))
#define HKEY_CLASSES_ROOT ZNTR_PREDEFINED_HKEY(0x80000000u)
#define HKEY_CURRENT_USER ZNTR_PREDEFINED_HKEY(0x80000001u)
#define HKEY_LOCAL_MACHINE ZNTR_PREDEFINED_HKEY(0x80000002u)
#define HKEY_USERS ZNTR_PREDEFINED_HKEY(0x80000003u)
#define HKEY_CURRENT_CONFIG ZNTR_PREDEFINED_HKEY(0x80000005u)

// Access rights.
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_EXECUTE 0x20019u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_OPTION_OPEN_LINK 0x00000008u

// Value types.
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_LITTLE_ENDIAN 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_LINK 6u
#define REG_MULTI_SZ 7u
#define REG_RESOURCE_LIST 8u
#define REG_FULL_RESOURCE_DESCRIPTOR 9u
#define REG_RESOURCE_REQUIREMENTS_LIST 10u
#define REG_QWORD 11u
#define REG_QWORD_LITTLE_ENDIAN 11u

extern "C" {
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult);
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData);
LSTATUS RegCloseKey(HKEY hKey);
}
