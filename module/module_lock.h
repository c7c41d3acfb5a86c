// The module lock count: how many of the driver's COM objects (cMainDriver, cMainDevice, cQueue)
// are alive, plus the class factory's outstanding LockServer(TRUE) calls. DllCanUnloadNow reports
// the module unloadable only when it is 0. Changed with atomic increments and decrements only,
// since objects come and go on any thread.
#pragma once

#include "driver_platform.h"

// Adds one to the count; each driver, device and queue object calls it when it is constructed.
void LockModule();
// Removes one; each of them calls it when it is destroyed.
void UnlockModule();
// The count now.
LONG GetModuleLockCount();
