// What the host's tests and their driver module agree on: the driver's class, the device
// instance IDs that configure it, and its control codes.
#pragma once

#include "standin/windef.h"

namespace zntr::test_driver {

// {5B0C7E4A-3D1F-4C2B-9A8E-7F6D5C4B3A21}
inline constexpr CLSID kDriverClass = {
    0x5B0C7E4A, 0x3D1F, 0x4C2B, {0x9A, 0x8E, 0x7F, 0x6D, 0x5C, 0x4B, 0x3A, 0x21}};

// Words in the device instance ID that change how the driver behaves.
inline constexpr wchar_t kSerialWord[] = L"SERIAL";            // device-level locking
inline constexpr wchar_t kFailPrepareWord[] = L"FAILPREPARE";  // OnPrepareHardware fails
inline constexpr wchar_t kFailAddWord[] = L"FAILADD";          // OnDeviceAdd fails
inline constexpr wchar_t kNoDeviceWord[] = L"NODEVICE";        // OnDeviceAdd makes no device
inline constexpr wchar_t kLeakWord[] = L"LEAK";  // the driver object is never released
inline constexpr wchar_t kKeepWord[] = L"KEEP";  // held requests are never completed

// Control codes (device I/O control requests of the test driver).
// Output: the input bytes, as many as fit.
inline constexpr ULONG kEcho = 0x00220004;
// Stays pending until kReleaseHeld.
inline constexpr ULONG kHold = 0x00220008;
// Completes every held control request, newest first, each with its input as output; then
// itself, with the number completed (4 bytes, little-endian).
inline constexpr ULONG kReleaseHeld = 0x0022000C;
// Completes every pending read, oldest first, with the input bytes (as many as each takes).
inline constexpr ULONG kCompleteReads = 0x00220010;
// Output: the callback log, one line per callback.
inline constexpr ULONG kCallbackLog = 0x00220014;
// Input: a 4-byte little-endian count of milliseconds to sleep inside the callback.
inline constexpr ULONG kSleep = 0x00220018;
// Output (4 bytes): the most queue callbacks that ran at the same time so far.
inline constexpr ULONG kMaxConcurrency = 0x0022001C;
// Completes the request twice.
inline constexpr ULONG kCompleteTwice = 0x00220020;
// Output (4 bytes): the requestor's process id of this request.
inline constexpr ULONG kRequestor = 0x00220024;

}  // namespace zntr::test_driver
