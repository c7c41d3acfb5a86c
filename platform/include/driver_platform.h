// The one header through which driver code (nmea, sensor, feed, driver, module) reaches the
// Windows platform. On Windows (_WIN32) it pulls in the SDK headers, and the stand-in's
// declarations only for what the MinGW-w64 SDK does not ship; elsewhere it pulls in the
// stand-in, which declares the same names with the same behaviour.
#pragma once

// Standard headers first: the CRT macros at the end of this file must not rename anything
// declared by a standard header included after them.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#if defined(_WIN32)

// Winsock 2 before windows.h, which would otherwise bring in the old Winsock 1 declarations.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <devpkey.h>
#include <devpropdef.h>
#include <evntrace.h>
#include <objbase.h>
#include <oleauto.h>
#include <portabledevicetypes.h>
#include <propidl.h>
#include <propkeydef.h>
#include <propvarutil.h>
#include <sensors.h>
#include <sensorsapi.h>
#include <setupapi.h>
#include <shlwapi.h>
#include <wrl/client.h>

// The stand-in's interface declarations, which name this as their last member: the SDK declares
// its interfaces with no destructor, so here it adds nothing.
#define ZNTR_COM_INTERFACE_DESTRUCTOR(Interface)

// What MinGW-w64 does not ship: the Portable Devices keys and message codes, the sensor class
// extension's interfaces, and the User-Mode Driver Framework. Their stand-in declarations follow
// the SDK's layout, so on Windows they describe the real framework's objects.
#include "standin/portabledevice.h"
#include "standin/sensorsclassextension.h"
#include "standin/wudfddi.h"

// Identifiers that the SDK has and MinGW-w64's headers lack, with the SDK's values.
// portabledevicetypes.h: the classes of two collections, {DE2D022D-2480-43BE-97F0-D1FA2CF98F4F}
// and {3882134D-14CF-4220-9CB4-435F86D83F60}.
inline constexpr CLSID CLSID_PortableDeviceKeyCollection = {
    0xDE2D022D, 0x2480, 0x43BE, {0x97, 0xF0, 0xD1, 0xFA, 0x2C, 0xF9, 0x8F, 0x4F}};
inline constexpr CLSID CLSID_PortableDeviceValuesCollection = {
    0x3882134D, 0x14CF, 0x4220, {0x9C, 0xB4, 0x43, 0x5F, 0x86, 0xD8, 0x3F, 0x60}};
// ndisguid.h: the network adapters' interface class, {AD498944-762F-11D0-8DCB-00C04FC3358C}.
inline constexpr GUID GUID_NDIS_LAN_CLASS = {
    0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}};

#else

#include "standin/combaseapi.h"
#include "standin/crt.h"
#include "standin/crt_strings.h"
#include "standin/debugapi.h"
#include "standin/devpkey.h"
#include "standin/devpropdef.h"
#include "standin/errhandlingapi.h"
#include "standin/evntrace.h"
#include "standin/handleapi.h"
#include "standin/heapapi.h"
#include "standin/libloaderapi.h"
#include "standin/oleauto.h"
#include "standin/portabledevice.h"
#include "standin/portabledevicetypes.h"
#include "standin/processthreadsapi.h"
#include "standin/propidl.h"
#include "standin/propkeydef.h"
#include "standin/propvarutil.h"
#include "standin/sensors.h"
#include "standin/sensorsclassextension.h"
#include "standin/setupapi.h"
#include "standin/shlwapi.h"
#include "standin/stringapiset.h"
#include "standin/synchapi.h"
#include "standin/timeapi.h"
#include "standin/windef.h"
#include "standin/winerror.h"
#include "standin/winreg.h"
#include "standin/winsock2.h"
#include "standin/wrl_client.h"
#include "standin/ws2tcpip.h"
#include "standin/wudfddi.h"

// Driver code calls atoi and strtol as on Windows, where long is 32 bits and overflow clamps.
#define atoi zntr_crt_atoi
#define strtol zntr_crt_strtol
// strtok keeps its position per thread, as on Windows.
#define strtok zntr_crt_strtok

#endif  // _WIN32
