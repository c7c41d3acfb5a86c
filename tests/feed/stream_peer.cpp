#include "stream_peer.h"

#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zntr::test {

StreamPeer::StreamPeer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listenFd_ >= 0) {
            ::close(listenFd_);
        }
        throw std::runtime_error("the stream peer cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
}

StreamPeer::~StreamPeer() {
    if (connectionFd_ >= 0) {
        ::close(connectionFd_);
    }
    ::close(listenFd_);
}

bool StreamPeer::Accept(std::chrono::milliseconds timeout) {
    pollfd ready{listenFd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) != 1) {
        return false;
    }
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    if (connectionFd_ >= 0) {
        ::close(connectionFd_);
    }
    connectionFd_ = fd;
    return true;
}

bool StreamPeer::Send(const std::string& text) {
    return connectionFd_ >= 0 && ::send(connectionFd_, text.data(), text.size(), MSG_NOSIGNAL) ==
                                     static_cast<ssize_t>(text.size());
}

bool StreamPeer::WaitForClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (connectionFd_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{connectionFd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1) {
            return false;
        }
        char byte[64];
        if (::recv(connectionFd_, byte, sizeof(byte), 0) <= 0) {
            return true;
        }
    }
    return false;
}

}  // namespace zntr::test
