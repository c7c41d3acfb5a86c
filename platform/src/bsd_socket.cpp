// The BSD socket side of the Winsock stand-in: system calls, blocking emulated with poll(), and
// the translation of errno and EAI codes into Windows Sockets codes.
#include "bsd_socket.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "thread_object.h"

namespace zntr::platform::detail {
namespace {

// Windows Sockets codes used on this side (the stand-in header cannot be included here).
constexpr int kWsaNotEnoughMemory = 8;
constexpr int kWsaEintr = 10004;
constexpr int kWsaEinval = 10022;
constexpr int kWsaEafnosupport = 10047;
constexpr int kWsaEsocktnosupport = 10044;
constexpr int kWsaTypeNotFound = 10109;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;

constexpr int kWindowsAfInet = 2;
constexpr int kWindowsAfInet6 = 23;

struct ErrnoCode {
    int error;
    int wsa;
};

// errno to Windows Sockets codes. EAGAIN and EINPROGRESS both mean "would block" to Winsock.
constexpr ErrnoCode kErrnoCodes[] = {
    {EINTR, 10004},
    {EBADF, 10038},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {ENFILE, 10024},
    {EAGAIN, 10035},
    {EINPROGRESS, 10035},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    // A send on a connection the peer has reset: Linux says EPIPE, Winsock WSAECONNRESET.
    {EPIPE, 10054},
    {ENOBUFS, 10055},
    {ENOMEM, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
};

int WsaFromErrno(int error) {
    for (const ErrnoCode& code : kErrnoCodes) {
        if (code.error == error) {
            return code.wsa;
        }
    }
    return kWsaEinval;
}

struct EaiCode {
    int eai;
    int wsa;
};

// glibc's EAI codes to the codes Windows' getaddrinfo returns.
constexpr EaiCode kEaiCodes[] = {
    {EAI_AGAIN, kWsaTryAgain},           {EAI_BADFLAGS, kWsaEinval},
    {EAI_FAIL, kWsaNoRecovery},          {EAI_FAMILY, kWsaEafnosupport},
    {EAI_MEMORY, kWsaNotEnoughMemory},   {EAI_NONAME, kWsaHostNotFound},
    {EAI_NODATA, kWsaHostNotFound},      {EAI_SERVICE, kWsaTypeNotFound},
    {EAI_SOCKTYPE, kWsaEsocktnosupport},
};

int WsaFromEai(int eai) {
    if (eai == EAI_SYSTEM) {
        return WsaFromErrno(errno);
    }
    for (const EaiCode& code : kEaiCodes) {
        if (code.eai == eai) {
            return code.wsa;
        }
    }
    return kWsaNoRecovery;
}

// Outcome of waiting for a blocking call to become possible.
enum class Readiness { kReady, kClosed };

// Waits until the descriptor is ready for `events`. A termination request throws ThreadEnd
// from here (the stack unwinds from the socket call); a closesocket from another thread ends
// the wait with kClosed. The poll slice bounds how late a close without a wake-up is noticed.
Readiness WaitFor(BsdSocket& socket, short events) {
    for (;;) {
        ThrowIfTerminationRequested();
        if (socket.closed.load()) {
            return Readiness::kClosed;
        }
        pollfd fds[2] = {{socket.fd, events, 0}, {-1, POLLIN, 0}};
        // Once termination is requested the wake descriptor stays readable; a call made while
        // the stack already unwinds must not spin on it.
        const int wake = CurrentThreadWakeDescriptor();
        nfds_t count = 1;
        if (wake >= 0 && !TerminationRequested()) {
            fds[1].fd = wake;
            count = 2;
        }
        const int ready = ::poll(fds, count, 250);
        if (ready > 0 && fds[0].revents != 0) {
            return socket.closed.load() ? Readiness::kClosed : Readiness::kReady;
        }
    }
}

}  // namespace

BsdSocket::~BsdSocket() {
    ::close(fd);
}

int BsdCreateTcpOrUdpSocket(int windowsType, int protocol, int* error) {
    const int type = windowsType == 1 ? SOCK_STREAM : windowsType == 2 ? SOCK_DGRAM : -1;
    if (type < 0) {
        *error = kWsaEsocktnosupport;
        return -1;
    }
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        *error = WsaFromErrno(errno);
        return -1;
    }
    return fd;
}

int BsdConnect(BsdSocket& socket, const Ipv4Endpoint& endpoint, int* error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = endpoint.port;
    address.sin_addr.s_addr = endpoint.address;
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        return 0;
    }
    if (errno != EINPROGRESS || socket.nonBlocking.load()) {
        // A non-blocking connect in progress is WSAEWOULDBLOCK on Windows, not EINPROGRESS.
        *error = WsaFromErrno(errno);
        return -1;
    }
    if (WaitFor(socket, POLLOUT) == Readiness::kClosed) {
        *error = kWsaEintr;
        return -1;
    }
    int result = 0;
    socklen_t length = sizeof(result);
    if (::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0) {
        result = errno;
    }
    if (result != 0) {
        // Linux keeps the socket in its connecting state after an asynchronous failure and would
        // answer the next connect with ECONNABORTED; dissolving the association now lets the
        // socket connect again at once, as Winsock allows after a failed connect.
        sockaddr unspecified{};
        unspecified.sa_family = AF_UNSPEC;
        ::connect(socket.fd, &unspecified, sizeof(unspecified));
        *error = WsaFromErrno(result);
        return -1;
    }
    // Likewise Linux marks the socket connected only at the next connect call; making it now
    // lets a further connect fail with WSAEISCONN as on Windows.
    ::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    return 0;
}

long BsdSend(BsdSocket& socket, const char* buffer, std::size_t length, int* error) {
    std::size_t sent = 0;
    // A blocking send returns once every byte is handed to the system, as Winsock's does; a
    // non-blocking one sends what fits.
    while (sent < length || length == 0) {
        const ssize_t n =
            ::send(socket.fd, buffer + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<std::size_t>(n);
            if (socket.nonBlocking.load() || length == 0) {
                break;
            }
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN || socket.nonBlocking.load()) {
            if (sent > 0) {
                break;
            }
            *error = WsaFromErrno(errno);
            return -1;
        }
        if (WaitFor(socket, POLLOUT) == Readiness::kClosed) {
            *error = kWsaEintr;
            return -1;
        }
    }
    return static_cast<long>(sent);
}

long BsdReceive(BsdSocket& socket, char* buffer, std::size_t length, int* error) {
    for (;;) {
        const ssize_t n = ::recv(socket.fd, buffer, length, MSG_DONTWAIT);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN || socket.nonBlocking.load()) {
            *error = WsaFromErrno(errno);
            return -1;
        }
        if (WaitFor(socket, POLLIN) == Readiness::kClosed) {
            *error = kWsaEintr;
            return -1;
        }
    }
}

void BsdWakeBlockedCalls(BsdSocket& socket) {
    // Makes a blocked poll() return at once on a connected socket; others notice the closed
    // flag within one poll slice.
    ::shutdown(socket.fd, SHUT_RDWR);
}

int BsdResolve(const ResolveRequest& request, std::vector<ResolvedAddress>* results,
               std::string* canonicalName) {
    addrinfo hints{};
    hints.ai_family = request.windowsFamily == kWindowsAfInet    ? AF_INET
                      : request.windowsFamily == kWindowsAfInet6 ? AF_INET6
                                                                 : AF_UNSPEC;
    // Windows answers one entry per address for a request without a socket type, where glibc
    // would repeat each address for stream, datagram and raw sockets.
    hints.ai_socktype = request.socketType == 0 ? SOCK_STREAM : request.socketType;
    hints.ai_protocol = request.protocol;
    hints.ai_flags = ((request.flags & 0x1) != 0 ? AI_PASSIVE : 0) |
                     ((request.flags & 0x2) != 0 ? AI_CANONNAME : 0) |
                     ((request.flags & 0x8) != 0 ? AI_NUMERICSERV : 0) |
                     ((request.numericOnly || (request.flags & 0x4) != 0) ? AI_NUMERICHOST : 0);
    addrinfo* list = nullptr;
    const int status = ::getaddrinfo(request.node, request.service, &hints, &list);
    if (status != 0) {
        return WsaFromEai(status);
    }
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        ResolvedAddress resolved;
        resolved.socketType = request.socketType == 0 ? 0 : entry->ai_socktype;
        resolved.protocol =
            request.socketType == 0 && request.protocol == 0 ? 0 : entry->ai_protocol;
        if (entry->ai_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
            resolved.family = kWindowsAfInet;
            std::memcpy(resolved.address.data(), &in->sin_addr, 4);
            resolved.port = in->sin_port;
        } else if (entry->ai_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
            resolved.family = kWindowsAfInet6;
            std::memcpy(resolved.address.data(), &in6->sin6_addr, 16);
            resolved.port = in6->sin6_port;
            resolved.scopeId = in6->sin6_scope_id;
        } else {
            continue;
        }
        if (entry == list && entry->ai_canonname != nullptr && canonicalName != nullptr) {
            *canonicalName = entry->ai_canonname;
        }
        results->push_back(resolved);
    }
    ::freeaddrinfo(list);
    return results->empty() ? kWsaHostNotFound : 0;
}

bool IsAddressLiteral(const char* text) {
    in_addr v4{};
    in6_addr v6{};
    return ::inet_pton(AF_INET, text, &v4) == 1 || ::inet_pton(AF_INET6, text, &v6) == 1;
}

}  // namespace zntr::platform::detail
