// The one header through which driver code (nmea, sensor, feed, driver, module) reaches the
// Windows platform. On Windows it would pull in the SDK headers; here it pulls in the stand-in,
// which declares the same names with the same behaviour.
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

// Driver code calls atoi, atol and strtol as on Windows, where long is 32 bits and overflow
// clamps.
#define atoi zntr_crt_atoi
#define atol zntr_crt_atol
#define strtol zntr_crt_strtol
// strtok keeps its position per thread, as on Windows.
#define strtok zntr_crt_strtok
