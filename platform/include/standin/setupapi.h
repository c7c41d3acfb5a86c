// The Setup API's device enumeration: device information sets of the devices that expose
// interfaces of one interface class, their interfaces with their paths, and device properties.
//
// The stand-in enumerates a device database file instead of the system's (see
// device_database_control.h for where it comes from and data/README.md for its format). A set
// is a snapshot of the database taken when it is made.
//
// Behaviour kept from Windows:
//  - SetupDiGetClassDevsW fails with INVALID_HANDLE_VALUE, never with NULL. Only sets of device
//    interfaces (DIGCF_DEVICEINTERFACE) are supported here: the driver asks for no other kind.
//  - Every SP_ structure passed in must carry the size of a 64-bit build in cbSize (the sizes
//    are pinned below); a wrong size fails with ERROR_INVALID_USER_BUFFER.
//  - Enumerations end with FALSE and ERROR_NO_MORE_ITEMS at the first index past the end.
//  - Size queries fail with ERROR_INSUFFICIENT_BUFFER and report the size needed.
//  - A property the device does not have fails with ERROR_NOT_FOUND.
//  - A handle that is not a live set fails with ERROR_INVALID_HANDLE.
#pragma once

#include <cstddef>

#include "standin/devpropdef.h"
#include "standin/windef.h"

typedef PVOID HDEVINFO;
typedef DWORD* PDWORD;
typedef BYTE* PBYTE;
typedef struct HWND__* HWND;

#ifndef ANYSIZE_ARRAY
#define ANYSIZE_ARRAY 1
#endif

// SetupDiGetClassDevsW flags.
#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

// SP_DEVICE_INTERFACE_DATA flags.
#define SPINT_ACTIVE 0x00000001u
#define SPINT_DEFAULT 0x00000002u
#define SPINT_REMOVED 0x00000004u

// One device of a set. ClassGuid is the device's setup class (GUID_NULL here: the database
// records none); DevInst names the device.
typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

// One device interface of a set. Flags has SPINT_ACTIVE while the device is present.
typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

// A device interface's path, in a buffer the caller sizes. cbSize is the size of the fixed part
// only (8 on 64-bit Windows, as here), not the size of the buffer.
typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[ANYSIZE_ARRAY];
} SP_DEVICE_INTERFACE_DETAIL_DATA_W, *PSP_DEVICE_INTERFACE_DETAIL_DATA_W;

// The sizes a 64-bit Windows build has. The detail structure matches although WCHAR is 4 bytes
// here: on Windows its 2-byte path slot is padded to the DWORD's alignment.
static_assert(sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == 4);

// Interface classes. The SDK declares them in ntddser.h and ndisguid.h.
// {86E0D1E0-8089-11D0-9CE4-08003E301F73}: serial (COM) ports.
inline constexpr GUID GUID_DEVINTERFACE_COMPORT = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
// {AD498944-762F-11D0-8DCB-00C04FC3358C}: network adapters, with the adapter's GUID as the
// interface's reference string.
inline constexpr GUID GUID_NDIS_LAN_CLASS = {
    0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}};
// {CAC88484-7515-4C03-82E6-71A87ABAC361}: network adapters, as the newer interface class.
inline constexpr GUID GUID_DEVINTERFACE_NET = {
    0xCAC88484, 0x7515, 0x4C03, {0x82, 0xE6, 0x71, 0xA8, 0x7A, 0xBA, 0xC3, 0x61}};

extern "C" {

// The devices with interfaces of ClassGuid (of every class with DIGCF_ALLCLASSES), only the
// present ones with DIGCF_PRESENT. Enumerator, when given, keeps the devices whose instance ID
// is that text or begins with it and a backslash (an enumerator such as "USB"), in any case.
HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                     DWORD Flags);

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

// The MemberIndex-th interface of class InterfaceClassGuid in the set (of one device when
// DeviceInfoData is given), in the database's order.
BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);

// The interface's path, and optionally its device. The size needed is the fixed part and the
// path with its terminator.
BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData);

// DEVPKEY_Device_FriendlyName (when the database gives one) and DEVPKEY_Device_InstanceId, as
// DEVPROP_TYPE_STRING values with their terminators.
BOOL WINAPI SetupDiGetDevicePropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                      const DEVPROPKEY* PropertyKey, DEVPROPTYPE* PropertyType,
                                      PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                      PDWORD RequiredSize, DWORD Flags);
}
