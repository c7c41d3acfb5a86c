// Name resolution (getaddrinfo) and the IPv6 address record, with the Windows layouts: in
// ADDRINFOA the canonical name comes before the address, the reverse of the Linux order.
#pragma once

#include "standin/winsock2.h"

#define AI_PASSIVE 0x00000001
#define AI_CANONNAME 0x00000002
#define AI_NUMERICHOST 0x00000004
#define AI_NUMERICSERV 0x00000008

typedef struct in6_addr {
    union {
        UCHAR Byte[16];
        USHORT Word[8];
    } u;
} IN6_ADDR, *PIN6_ADDR, *LPIN6_ADDR;

typedef struct sockaddr_in6 {
    ADDRESS_FAMILY sin6_family;
    USHORT sin6_port;  // network byte order
    ULONG sin6_flowinfo;
    IN6_ADDR sin6_addr;
    ULONG sin6_scope_id;
} SOCKADDR_IN6, *PSOCKADDR_IN6, *LPSOCKADDR_IN6;

typedef struct addrinfo {
    int ai_flags;
    int ai_family;
    int ai_socktype;
    int ai_protocol;
    size_t ai_addrlen;
    char* ai_canonname;
    struct sockaddr* ai_addr;
    struct addrinfo* ai_next;
} ADDRINFOA, *PADDRINFOA;

// Returns 0, or the Windows Sockets error directly (WSAHOST_NOT_FOUND for a name that does not
// resolve), which is also left as the last error. See network_control.h for the network map and
// the guard that decide which names resolve without a query.
int getaddrinfo(const char* pNodeName, const char* pServiceName, const ADDRINFOA* pHints,
                PADDRINFOA* ppResult);
void freeaddrinfo(PADDRINFOA pAddrInfo);
