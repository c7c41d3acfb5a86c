// The driver's plain-text debug log, written to the debugger output.
#pragma once

#include "driver_platform.h"

// Module-wide switch of the log: set from the registry value EnableLog by the module's entry
// routine (until it runs, by whoever loads the driver code). 0 means off.
extern INT gEnableLog;

// Formats a message as vsprintf does into a cleared 1024-byte buffer and writes it to the
// debugger output, with no prefix and no line end added; does nothing while gEnableLog is not
// above 0. Besides the C conversions it renders the trace placeholders "%!hresult!" (an HRESULT,
// as 0x%08X) and "%!bool!" (TRUE or FALSE), and "%ws" (a wide string, converted to the ANSI code
// page). A message longer than the buffer is cut to fit.
void DebugLog(const char* format, ...);

// The formatting of DebugLog into a caller's buffer, whatever gEnableLog says; returns the
// length of the text, which is always terminated and at most size - 1 characters long.
size_t FormatDebugMessage(char* buffer, size_t size, const char* format, va_list args);
