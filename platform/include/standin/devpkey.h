// The system's device property keys that the stand-in's device database can answer.
#pragma once

#include "standin/devpropdef.h"

// {A45C254E-DF1C-4EFD-8020-67D146A850E0}, 14: DEVPROP_TYPE_STRING.
inline constexpr DEVPROPKEY DEVPKEY_Device_FriendlyName = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
// {78C34FC8-104A-4ACA-9EA4-524D52996E57}, 256: DEVPROP_TYPE_STRING.
inline constexpr DEVPROPKEY DEVPKEY_Device_InstanceId = {
    {0x78C34FC8, 0x104A, 0x4ACA, {0x9E, 0xA4, 0x52, 0x4D, 0x52, 0x99, 0x6E, 0x57}}, 256};
