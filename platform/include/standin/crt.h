// C runtime number readers with the behaviour of the Windows C runtime (UCRT):
//  - `long` is 32 bits, so _wtol and strtol return LONG and clamp to its range;
//  - every integer reader clamps on overflow (to INT_MAX/INT_MIN or LONG_MAX/LONG_MIN) and sets
//    errno to ERANGE, where glibc's atoi wraps and its strtol returns a 64-bit value;
//  - leading white space is the six C space characters; a number that does not start where the
//    scan starts reads as 0.
// `atoi` and `strtol` keep their glibc meaning for the rest of the process: the Windows versions
// here carry a prefix, and driver code reaches them under the standard names through macros in
// driver_platform.h, which only driver translation units include.
#pragma once

#include "standin/windef.h"

extern "C" {
double _wtof(const wchar_t* str);
LONG _wtol(const wchar_t* str);
int _wtoi(const wchar_t* str);
int zntr_crt_atoi(const char* str);
LONG zntr_crt_strtol(const char* str, char** endptr, int base);
}
