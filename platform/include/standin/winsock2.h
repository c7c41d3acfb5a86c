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

// Error codes, as WSAGetLastError() and getaddrinfo report them.
#define WSA_NOT_ENOUGH_MEMORY 8L
#define WSAEINTR 10004L
#define WSAEBADF 10009L
#define WSAEACCES 10013L
#define WSAEFAULT 10014L
#define WSAEINVAL 10022L
#define WSAEMFILE 10024L
#define WSAEWOULDBLOCK 10035L
#define WSAEINPROGRESS 10036L
#define WSAEALREADY 10037L
#define WSAENOTSOCK 10038L
#define WSAEDESTADDRREQ 10039L
#define WSAEMSGSIZE 10040L
#define WSAEPROTOTYPE 10041L
#define WSAENOPROTOOPT 10042L
#define WSAEPROTONOSUPPORT 10043L
#define WSAESOCKTNOSUPPORT 10044L
#define WSAEOPNOTSUPP 10045L
#define WSAEPFNOSUPPORT 10046L
#define WSAEAFNOSUPPORT 10047L
#define WSAEADDRINUSE 10048L
#define WSAEADDRNOTAVAIL 10049L
#define WSAENETDOWN 10050L
#define WSAENETUNREACH 10051L
#define WSAENETRESET 10052L
#define WSAECONNABORTED 10053L
#define WSAECONNRESET 10054L
#define WSAENOBUFS 10055L
#define WSAEISCONN 10056L
#define WSAENOTCONN 10057L
#define WSAESHUTDOWN 10058L
#define WSAETIMEDOUT 10060L
#define WSAECONNREFUSED 10061L
#define WSAEHOSTDOWN 10064L
#define WSAEHOSTUNREACH 10065L
#define WSAEPROCLIM 10067L
#define WSASYSNOTREADY 10091L
#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L
#define WSATYPE_NOT_FOUND 10109L
#define WSAHOST_NOT_FOUND 11001L
#define WSATRY_AGAIN 11002L
#define WSANO_RECOVERY 11003L
#define WSANO_DATA 11004L

// The C library declares these BSD names too (sys/types.h), so they are declared here exactly as
// it does. u_long is therefore 64 bits, not the 32 bits of Windows; the driver only passes one
// to ioctlsocket as a switch, where the width does not matter.
typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;
typedef unsigned long u_long;
typedef USHORT ADDRESS_FAMILY;

// Address families and socket types with their Windows values (AF_INET6 is 23, not Linux's 10).
#define AF_UNSPEC 0
#define AF_INET 2
#define AF_INET6 23
#define PF_INET AF_INET
#define PF_INET6 AF_INET6
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17

#define INADDR_ANY static_cast<ULONG>(0x00000000)
#define INADDR_LOOPBACK 0x7F000001
#define INADDR_NONE 0xFFFFFFFFu

typedef struct in_addr {
    union {
        struct {
            UCHAR s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct {
            USHORT s_w1, s_w2;
        } S_un_w;
        ULONG S_addr;
    } S_un;
} IN_ADDR, *PIN_ADDR, *LPIN_ADDR;
#define s_addr S_un.S_addr

typedef struct sockaddr {
    ADDRESS_FAMILY sa_family;
    CHAR sa_data[14];
} SOCKADDR, *PSOCKADDR, *LPSOCKADDR;

typedef struct sockaddr_in {
    ADDRESS_FAMILY sin_family;
    USHORT sin_port;  // network byte order
    IN_ADDR sin_addr;
    CHAR sin_zero[8];
} SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;

// The one ioctlsocket command: FIONBIO switches non-blocking mode (argument non-zero) and back.
#define FIONBIO 0x8004667Eu

extern "C" {
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup(void);
int WSAGetLastError(void);
void WSASetLastError(int iError);
}

// The socket functions have C++ linkage here, so that their link names never collide with the
// C library's socket, connect, send and recv in the same process. A source file includes either
// these declarations or the POSIX ones, never both.
SOCKET socket(int af, int type, int protocol);
int connect(SOCKET s, const sockaddr* name, int namelen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int ioctlsocket(SOCKET s, long cmd, u_long* argp);
int closesocket(SOCKET s);
ULONG inet_addr(const char* cp);

// Byte order: Windows is little-endian on every platform the driver targets.
inline constexpr u_short htons(u_short hostshort) {
    return static_cast<u_short>((hostshort >> 8) | (hostshort << 8));
}
inline constexpr u_short ntohs(u_short netshort) {
    return htons(netshort);
}
inline constexpr ULONG htonl(ULONG hostlong) {
    return ((hostlong & 0xFFu) << 24) | ((hostlong & 0xFF00u) << 8) | ((hostlong >> 8) & 0xFF00u) |
           (hostlong >> 24);
}
inline constexpr ULONG ntohl(ULONG netlong) {
    return htonl(netlong);
}
