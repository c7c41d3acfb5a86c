// Winsock sockets over BSD sockets: the SOCKET table, the network map and guard at connect, and
// Windows return values and last errors at the boundary.
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "bsd_socket.h"
#include "injected_failures.h"
#include "network_map.h"
#include "standin/errhandlingapi.h"
#include "standin/resource_control.h"
#include "standin/winerror.h"
#include "standin/winsock2.h"
#include "thread_object.h"
#include "winsock_state.h"

using namespace zntr::platform::detail;

namespace {

// SOCKET values name table entries; like kernel handles they are multiples of 4, never 0 (the
// driver takes a socket of 0 to mean none), and never reused, so a closed socket is refused
// with WSAENOTSOCK instead of naming a new one.
struct SocketTable {
    std::mutex mutex;
    std::unordered_map<SOCKET, std::shared_ptr<BsdSocket>> sockets;
    SOCKET next = 0x10000;
};

// Never destroyed: a thread of the platform may still close its socket while the process exits.
SocketTable& Table() {
    static SocketTable& table = *new SocketTable;
    return table;
}

std::shared_ptr<BsdSocket> Lookup(SOCKET s) {
    SocketTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.sockets.find(s);
    return found == table.sockets.end() ? nullptr : found->second;
}

int Fail(int error) {
    WSASetLastError(error);
    return SOCKET_ERROR;
}

// Common entry of the socket calls: a termination point, then the checks every call makes.
// Null with the last error set when the call cannot go on.
std::shared_ptr<BsdSocket> Enter(SOCKET s) {
    ThrowIfTerminationRequested();
    if (!WinsockStarted()) {
        WSASetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    auto socket = Lookup(s);
    if (!socket) {
        WSASetLastError(WSAENOTSOCK);
    }
    return socket;
}

std::atomic<int> gSocketFailures{0};

}  // namespace

namespace zntr::platform {

void FailNextSocketCreations(int count) {
    gSocketFailures.store(count > 0 ? count : 0);
}

}  // namespace zntr::platform

// Only IPv4 sockets are made: the driver asks for nothing else. AF_INET6 is refused with
// WSAEAFNOSUPPORT, which Windows gives on a machine without IPv6.
SOCKET socket(int af, int type, int protocol) {
    ThrowIfTerminationRequested();
    if (!WinsockStarted()) {
        WSASetLastError(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    if (ConsumeInjectedFailure(gSocketFailures)) {
        WSASetLastError(WSAENOBUFS);
        return INVALID_SOCKET;
    }
    if (af != AF_INET) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if ((type == SOCK_STREAM && protocol != 0 && protocol != IPPROTO_TCP) ||
        (type == SOCK_DGRAM && protocol != 0 && protocol != IPPROTO_UDP)) {
        WSASetLastError(WSAEPROTONOSUPPORT);
        return INVALID_SOCKET;
    }
    int error = 0;
    const int fd = BsdCreateTcpOrUdpSocket(type, protocol, &error);
    if (fd < 0) {
        WSASetLastError(error);
        return INVALID_SOCKET;
    }
    auto state = std::make_shared<BsdSocket>(fd);
    SocketTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    const SOCKET value = table.next;
    table.next += 4;
    table.sockets.emplace(value, std::move(state));
    return value;
}

// The network map applies first, then the guard: unless the LAN is allowed, an endpoint that is
// not loopback fails at once with WSAENETUNREACH and no packet leaves. A socket whose connect
// failed may connect again, as Winsock allows after WSAECONNREFUSED, WSAENETUNREACH or
// WSAETIMEDOUT.
int connect(SOCKET s, const sockaddr* name, int namelen) {
    auto socket = Enter(s);
    if (!socket) {
        return SOCKET_ERROR;
    }
    if (name == nullptr || namelen < static_cast<int>(sizeof(sockaddr_in))) {
        return Fail(WSAEFAULT);
    }
    if (name->sa_family != AF_INET) {
        return Fail(WSAEAFNOSUPPORT);
    }
    sockaddr_in target;
    std::memcpy(&target, name, sizeof(target));
    const NetworkRules rules = CurrentNetworkRules();
    const Ipv4Endpoint endpoint = rules.MapEndpoint({target.sin_addr.s_addr, target.sin_port});
    if (!rules.allowLan && !IsLoopback(endpoint.address)) {
        NetworkCountersStorage().guardRefusals.fetch_add(1);
        return Fail(WSAENETUNREACH);
    }
    NetworkCountersStorage().systemConnects.fetch_add(1);
    int error = 0;
    if (BsdConnect(*socket, endpoint, &error) != 0) {
        return Fail(error);
    }
    return 0;
}

// Flags other than 0 are refused with WSAEOPNOTSUPP: the driver sends none, and MSG_OOB and
// MSG_DONTROUTE have no use here.
int send(SOCKET s, const char* buf, int len, int flags) {
    auto socket = Enter(s);
    if (!socket) {
        return SOCKET_ERROR;
    }
    if (flags != 0) {
        return Fail(WSAEOPNOTSUPP);
    }
    if (len < 0 || (buf == nullptr && len > 0)) {
        return Fail(WSAEFAULT);
    }
    int error = 0;
    const long sent = BsdSend(*socket, buf, static_cast<std::size_t>(len), &error);
    return sent < 0 ? Fail(error) : static_cast<int>(sent);
}

// Returns the bytes received, 0 when the peer has closed the connection in order, or
// SOCKET_ERROR: WSAEWOULDBLOCK on a non-blocking socket with nothing to read. Flags other than
// 0 are refused with WSAEOPNOTSUPP (the driver passes none). A length of 0 or less is refused
// with WSAEINVAL.
int recv(SOCKET s, char* buf, int len, int flags) {
    auto socket = Enter(s);
    if (!socket) {
        return SOCKET_ERROR;
    }
    if (flags != 0) {
        return Fail(WSAEOPNOTSUPP);
    }
    if (len <= 0) {
        return Fail(WSAEINVAL);
    }
    if (buf == nullptr) {
        return Fail(WSAEFAULT);
    }
    int error = 0;
    const long received = BsdReceive(*socket, buf, static_cast<std::size_t>(len), &error);
    return received < 0 ? Fail(error) : static_cast<int>(received);
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    auto socket = Enter(s);
    if (!socket) {
        return SOCKET_ERROR;
    }
    if (argp == nullptr) {
        return Fail(WSAEFAULT);
    }
    if (cmd == static_cast<long>(FIONBIO)) {
        socket->nonBlocking.store(*argp != 0);
        return 0;
    }
    return Fail(WSAEINVAL);
}

// Not a termination point: scoped socket holders call it while a terminated thread unwinds. A
// call still blocked on the socket in another thread fails with WSAEINTR, as on Windows; the
// descriptor itself is closed once no call uses it any more.
int closesocket(SOCKET s) {
    if (!WinsockStarted()) {
        return Fail(WSANOTINITIALISED);
    }
    std::shared_ptr<BsdSocket> socket;
    {
        SocketTable& table = Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        const auto found = table.sockets.find(s);
        if (found == table.sockets.end()) {
            return Fail(WSAENOTSOCK);
        }
        socket = std::move(found->second);
        table.sockets.erase(found);
    }
    socket->closed.store(true);
    if (socket.use_count() > 1) {
        BsdWakeBlockedCalls(*socket);
    }
    return 0;
}
