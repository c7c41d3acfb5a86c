// Debugger output. Where the text goes is the host's choice (see standin/control.h); with no
// sink installed it is dropped, as on Windows when no debugger listens.
#pragma once

#include "standin/windef.h"

extern "C" {
void OutputDebugStringA(LPCSTR lpOutputString);
}
