// The calling thread's last-error code.
#pragma once

#include "standin/windef.h"

extern "C" {
DWORD GetLastError(void);
void SetLastError(DWORD dwErrCode);
}
