#include <atomic>
#include <cstring>

#include "standin/errhandlingapi.h"
#include "standin/winsock2.h"
#include "winsock_state.h"

namespace {
// Each successful WSAStartup must be matched by one WSACleanup.
std::atomic<int> gStartups{0};
}  // namespace

bool zntr::platform::detail::WinsockStarted() {
    return gStartups.load() > 0;
}

// Versions 1.0 to 2.2 are supported; a request above 2.2 is granted 2.2, one below 1.0 is
// refused with WSAVERNOTSUPPORTED. The error is returned directly, not through the last error.
extern "C" int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
    const BYTE major = LOBYTE(wVersionRequested);
    const BYTE minor = HIBYTE(wVersionRequested);
    if (lpWSAData == nullptr) {
        return WSAEFAULT;
    }
    if (major < 1) {
        return WSAVERNOTSUPPORTED;
    }
    std::memset(lpWSAData, 0, sizeof(*lpWSAData));
    lpWSAData->wVersion =
        (major > 2 || (major == 2 && minor > 2)) ? MAKEWORD(2, 2) : MAKEWORD(major, minor);
    lpWSAData->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
    std::strcpy(lpWSAData->szSystemStatus, "Running");
    gStartups.fetch_add(1);
    return 0;
}

extern "C" int WSACleanup(void) {
    int current = gStartups.load();
    while (current > 0 && !gStartups.compare_exchange_weak(current, current - 1)) {
    }
    if (current <= 0) {
        SetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    return 0;
}

// One per-thread error code shared with GetLastError, as the Windows documentation allows.
extern "C" int WSAGetLastError(void) {
    return static_cast<int>(GetLastError());
}

extern "C" void WSASetLastError(int iError) {
    SetLastError(static_cast<DWORD>(iError));
}
