#include "simulator/socket_io.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zntr::hotspot {

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!fd_) {
        throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    }
}

void StopSignal::Set() {
    const eventfd_t one = 1;
    static_cast<void>(::write(fd_.get(), &one, sizeof(one)));
}

bool StopSignal::IsSet() const {
    pollfd fd{fd_.get(), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
}

BoundSocket BindTcp(const std::string& address, int port, bool listen) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address: " + address);
    }
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    const int yes = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&where), sizeof(where)) != 0) {
        throw std::runtime_error("cannot bind " + address + ":" + std::to_string(port) + ": " +
                                 std::strerror(errno));
    }
    socklen_t length = sizeof(where);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&where), &length);
    BoundSocket bound{std::move(fd), ntohs(where.sin_port)};
    if (listen) {
        StartListening(bound);
    }
    return bound;
}

void StartListening(const BoundSocket& socket) {
    if (::listen(socket.fd.get(), 16) != 0) {
        throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
    }
}

WaitResult WaitFd(int fd, const StopSignal& stop, std::chrono::milliseconds timeout,
                  bool forWrite) {
    pollfd fds[2] = {{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0},
                     {stop.fd(), POLLIN, 0}};
    for (;;) {
        const int ready =
            ::poll(fds, 2, timeout.count() < 0 ? -1 : static_cast<int>(timeout.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return ready == 0 ? WaitResult::kTimeout : WaitResult::kStopped;
        }
        if (fds[1].revents != 0) {
            return WaitResult::kStopped;
        }
        return WaitResult::kReady;
    }
}

bool SleepUnlessStopped(const StopSignal& stop, std::chrono::milliseconds duration) {
    if (duration.count() <= 0) {
        return !stop.IsSet();
    }
    pollfd fd{stop.fd(), POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + duration;
    for (;;) {
        // Rounded up: a sleep never ends before its deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return false;
        }
    }
}

bool WriteAll(int fd, std::string_view data, const StopSignal& stop) {
    while (!data.empty()) {
        const ssize_t written = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            data.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitFd(fd, stop, std::chrono::milliseconds(-1), true) != WaitResult::kReady) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

void DisableNagle(int fd) {
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));
}

}  // namespace zntr::hotspot
