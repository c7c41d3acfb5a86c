// The driver class: the one class the module serves, whose objects are cMainDriver. A framework
// host asks DllGetClassObject for it. A fixed identifier of this driver's own.
#pragma once

#include "standin/windef.h"

// {4F6A2D1C-9B3E-4C57-8E21-6D0F3A9B7C15}
inline constexpr CLSID CLSID_ZntrLocationDriver = {
    0x4F6A2D1C, 0x9B3E, 0x4C57, {0x8E, 0x21, 0x6D, 0x0F, 0x3A, 0x9B, 0x7C, 0x15}};
