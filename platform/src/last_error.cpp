#include "standin/errhandlingapi.h"

namespace {
// Each thread has its own last-error code, as on Windows.
thread_local DWORD tLastError = 0;
}  // namespace

extern "C" DWORD GetLastError(void) {
    return tLastError;
}

extern "C" void SetLastError(DWORD dwErrCode) {
    tLastError = dwErrCode;
}
