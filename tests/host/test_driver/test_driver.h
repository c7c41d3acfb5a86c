// A small driver of the host tests' own, built into modules like the real one: a driver object,
// a device callback object and a queue callback object that echoes, holds reads and control
// requests pending until told, refuses a second open, and logs every callback it receives (to
// the debugger output and to a log a control request reads back).
#pragma once

#include <atomic>
#include <string>

#include "standin/unknwn.h"

namespace zntr::test_driver {

// Objects of the module alive now, and locks taken with LockServer: the module can be unloaded
// when the count is 0.
extern std::atomic<long> gObjects;

// Appends a line to the callback log and writes it to the debugger output.
void Log(const std::string& line);
// Empties the callback log (a module loaded again starts a new one).
void ResetLog();

// The driver object (IDriverEntry) for the class factory.
HRESULT CreateDriver(REFIID riid, void** object);

}  // namespace zntr::test_driver
