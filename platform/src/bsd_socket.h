// The BSD socket side of the Winsock stand-in. Its interface uses no POSIX and no Winsock types,
// so that the Winsock side (which includes the stand-in's declarations) and this side (which
// includes the system's) never meet in one source file. Errors come back as Windows Sockets
// codes. Internal to the platform library.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace zntr::platform::detail {

// One open socket. The descriptor is always in the system's non-blocking mode; a Winsock
// socket in blocking mode is emulated by waiting in poll(), together with the thread's wake
// descriptor, so that TerminateThread can end a thread blocked in a socket call.
struct BsdSocket {
    explicit BsdSocket(int descriptor) : fd(descriptor) {}
    ~BsdSocket();
    BsdSocket(const BsdSocket&) = delete;
    BsdSocket& operator=(const BsdSocket&) = delete;

    const int fd;
    std::atomic<bool> nonBlocking{false};
    // Set by closesocket; a call still blocked on the socket in another thread then fails.
    std::atomic<bool> closed{false};
};

// An IPv4 endpoint; both members in network byte order, as they stand in a sockaddr_in.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    bool operator==(const Ipv4Endpoint&) const = default;
};

// Results: a value >= 0, or -1 with the Windows Sockets error in *error.
int BsdCreateTcpOrUdpSocket(int windowsType, int protocol, int* error);
int BsdConnect(BsdSocket& socket, const Ipv4Endpoint& endpoint, int* error);
long BsdSend(BsdSocket& socket, const char* buffer, std::size_t length, int* error);
long BsdReceive(BsdSocket& socket, char* buffer, std::size_t length, int* error);
// Wakes calls blocked on the socket in other threads (closesocket).
void BsdWakeBlockedCalls(BsdSocket& socket);

// One resolved address in neutral form: the Windows family value (2 or 23), the address bytes
// (4 or 16 used), the port in network order.
struct ResolvedAddress {
    int family = 0;
    int socketType = 0;
    int protocol = 0;
    std::array<std::uint8_t, 16> address{};
    std::uint16_t port = 0;
    std::uint32_t scopeId = 0;
};

struct ResolveRequest {
    const char* node = nullptr;
    const char* service = nullptr;
    int flags = 0;          // Windows AI_* values
    int windowsFamily = 0;  // AF_UNSPEC, AF_INET or AF_INET6 (Windows values)
    int socketType = 0;
    int protocol = 0;
    bool numericOnly = false;  // the node is an address literal: never send a query
};

// Runs the system resolver; 0 or the Windows Sockets error. The canonical name, when asked for
// and given, goes to *canonicalName.
int BsdResolve(const ResolveRequest& request, std::vector<ResolvedAddress>* results,
               std::string* canonicalName);

// Whether the text is an IPv4 dotted-quad literal (four decimal parts) or an IPv6 literal.
bool IsAddressLiteral(const char* text);

}  // namespace zntr::platform::detail
