// The test driver module: a driver module of the tests' own, built the way the driver module is
// (hidden symbols, the exports of test_driver_module.map, DllMain as the entry point), that a
// framework host loads like any other. Every callback it receives is recorded in TestDriverCalls()
// of the program that loaded it as "Method(arguments)" (OnD0Entry(from,action),
// OnDeviceAdd(instance id), OnRead(length), OnDeviceIoControl(code), ...), may be held at a gate
// there, and returns the answer set for its method, with these exceptions: a failed answer to
// DllMain(attach) refuses the attach ("DllMain(foreign handle)" is recorded when the handle it
// got is not its load address); S_FALSE to OnDeviceAdd makes no device; S_FALSE to
// OnDeinitialize keeps the driver alive, so the module cannot unload; OnPrepareHardware makes the
// default queue (once) unless it fails; OnCreateFile completes the open with the answer; OnRead
// holds the read, never completed; OnDeviceIoControl serves the codes below, else completes with
// the answer. It finds the recorder through ZntrTestDriverRecord, which a test program that loads
// it exports (ENABLE_EXPORTS); anywhere else its DllMain refuses the attach.
#pragma once

#include <string>

#include "call_recorder.h"
#include "standin/windef.h"

namespace zntr::test {

// {5B0C7E4A-3D1F-4C2B-9A8E-7F6D5C4B3A21}
inline constexpr CLSID kTestDriverClass = {
    0x5B0C7E4A, 0x3D1F, 0x4C2B, {0x9A, 0x8E, 0x7F, 0x6D, 0x5C, 0x4B, 0x3A, 0x21}};

// Device I/O control codes of the test driver's queue.
inline constexpr ULONG kTestDriverEcho = 1;           // output: the input, as much as fits
inline constexpr ULONG kTestDriverCompleteTwice = 2;  // completed with S_OK, then with E_FAIL

// The calls of every test driver module this program loaded.
CallRecorder& TestDriverCalls();

// The path of a build of the module: "test_driver" (framework version 1.9), "test_driver_v1_10"
// or "test_driver_v2_0".
std::string TestDriverModule(const std::string& build = "test_driver");

}  // namespace zntr::test
