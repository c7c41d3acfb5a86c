// The SDK declares the device property keys (devpkey.h) and leaves their definition to one unit
// of each program, the one that includes initguid.h first: this is that unit for the programs and
// the module of the Windows build. (The Sensor API's keys and identifiers come defined in
// MinGW-w64's sensorsapi import library.)
// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devpkey.h>
// clang-format on
