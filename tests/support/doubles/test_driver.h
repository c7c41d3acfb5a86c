// The test driver module: a driver module of the tests' own, built the way the driver module is
// (hidden symbols, the exports of test_driver_module.map, DllMain as the entry point), that a
// framework host loads like any other. It is a recording double: every callback it receives is
// recorded in TestDriverCalls() of the test program that loaded it, as "Method(arguments)", may
// be held at a gate there, and returns (or acts on) the answer set for its method:
//
//   DllMain(attach|detach)      a failed answer to the attach refuses it
//   OnInitialize()              returned
//   OnDeviceAdd(<instance id>)  a failure is returned; S_FALSE makes no device
//   OnDeinitialize()            S_FALSE keeps the driver object alive: the module cannot unload
//   OnPrepareHardware()         a failure is returned; else the default queue is made (once)
//   OnD0Entry(<prev>,<action>), OnD0Exit(<target>,<action>), OnQueryRemove(), OnQueryStop(),
//   OnReleaseHardware()         returned (the action is what GetSystemPowerAction answered)
//   OnSurpriseRemoval(), OnCleanupFile()
//   OnCreateFile()              the open is completed with it
//   OnRead(<length>)            the read is held until kTestDriverCompleteReads
//   OnDeviceIoControl(<code>)   the codes below, else completed with the answer
//   ~Queue()                    S_FALSE leaves the held reads uncompleted; else the queue
//                               completes them with ERROR_OPERATION_ABORTED as it goes
//
// The module finds the recorder through ZntrTestDriverRecord, which a test program that loads it
// exports (ENABLE_EXPORTS); anywhere else its DllMain refuses the attach.
#pragma once

#include <string>

#include "call_recorder.h"
#include "standin/windef.h"

namespace zntr::test {

// {5B0C7E4A-3D1F-4C2B-9A8E-7F6D5C4B3A21}
inline constexpr CLSID kTestDriverClass = {
    0x5B0C7E4A, 0x3D1F, 0x4C2B, {0x9A, 0x8E, 0x7F, 0x6D, 0x5C, 0x4B, 0x3A, 0x21}};

// Device I/O control codes of the test driver's queue.
inline constexpr ULONG kTestDriverEcho = 1;  // output: the input, as much as fits
inline constexpr ULONG kTestDriverCompleteReads =
    2;  // each held read, oldest first, gets the input
inline constexpr ULONG kTestDriverCompleteTwice = 3;  // completed with S_OK, then with E_FAIL

// The calls of every test driver module this program loaded.
CallRecorder& TestDriverCalls();

// The path of a build of the module: "test_driver" (framework version 1.9), "test_driver_v1_10"
// or "test_driver_v2_0".
std::string TestDriverModule(const std::string& build = "test_driver");

}  // namespace zntr::test
