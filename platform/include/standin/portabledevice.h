// The Windows Portable Devices keys and I/O control codes that a sensor driver uses.
#pragma once

#include "standin/propkeydef.h"
#include "standin/windef.h"

// Object properties, {EF6B490D-5CD8-437A-AFFC-DA8B60EE4A3C}.
#define ZNTR_WPD_OBJECT_PROPERTIES_V1                      \
    {                                                      \
        0xEF6B490D, 0x5CD8, 0x437A, {                      \
            0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C \
        }                                                  \
    }
inline constexpr PROPERTYKEY WPD_OBJECT_ID = {ZNTR_WPD_OBJECT_PROPERTIES_V1, 2};  // VT_LPWSTR
inline constexpr PROPERTYKEY WPD_OBJECT_NAME = {ZNTR_WPD_OBJECT_PROPERTIES_V1, 4};
inline constexpr PROPERTYKEY WPD_OBJECT_PERSISTENT_UNIQUE_ID = {ZNTR_WPD_OBJECT_PROPERTIES_V1, 5};
inline constexpr PROPERTYKEY WPD_OBJECT_CONTENT_TYPE = {ZNTR_WPD_OBJECT_PROPERTIES_V1, 7};
#undef ZNTR_WPD_OBJECT_PROPERTIES_V1

// Functional object properties, {8F052D93-ABCA-4FC5-A5AC-B01DF4DBE598}.
inline constexpr PROPERTYKEY WPD_FUNCTIONAL_OBJECT_CATEGORY = {
    {0x8F052D93, 0xABCA, 0x4FC5, {0xA5, 0xAC, 0xB0, 0x1D, 0xF4, 0xDB, 0xE5, 0x98}}, 2};  // VT_CLSID

// {99ED0160-17FF-4C44-9D98-1D7A6F941921}
inline constexpr GUID WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT = {
    0x99ED0160, 0x17FF, 0x4C44, {0x9D, 0x98, 0x1D, 0x7A, 0x6F, 0x94, 0x19, 0x21}};

#define WPD_DEVICE_OBJECT_ID L"DEVICE"

// The two message codes: CTL_CODE(FILE_DEVICE_WPD (0x40), 0x42, METHOD_BUFFERED, access) with
// read and write access, and with read access only.
#define IOCTL_WPD_MESSAGE_READWRITE_ACCESS 0x0040C108u
#define IOCTL_WPD_MESSAGE_READ_ACCESS 0x00404108u
#define IS_WPD_IOCTL(ControlCode)                             \
    (((ControlCode) == IOCTL_WPD_MESSAGE_READWRITE_ACCESS) || \
     ((ControlCode) == IOCTL_WPD_MESSAGE_READ_ACCESS))

#define FACILITY_WPD 42
