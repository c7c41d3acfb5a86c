// Windows Sockets 2. SOCKET is an unsigned handle as on Windows: failure is INVALID_SOCKET
// (all bits set), and functions that return int fail with SOCKET_ERROR and leave the reason in
// WSAGetLastError().
#pragma once

#include "standin/windef.h"

typedef ULONG_PTR SOCKET;
#define INVALID_SOCKET (static_cast<SOCKET>(~static_cast<SOCKET>(0)))
#define SOCKET_ERROR (-1)

#define MAKEWORD(low, high)                       \
    (static_cast<WORD>((static_cast<BYTE>(low)) | \
                       (static_cast<WORD>(static_cast<BYTE>(high)) << 8)))
#define LOBYTE(w) (static_cast<BYTE>((w)&0xFF))
#define HIBYTE(w) (static_cast<BYTE>(((w) >> 8) & 0xFF))

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L
#define WSAEFAULT 10014L

extern "C" {
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup(void);
int WSAGetLastError(void);
void WSASetLastError(int iError);
}
