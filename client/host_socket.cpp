#include "host_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "device_error.h"
#include "host_status.h"

namespace zntr::client {

namespace {

DeviceError NotRunning(const std::string& message) {
    return DeviceError(DeviceError::Kind::kHostNotRunning,
                       HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), message);
}

}  // namespace

HostSocket::HostSocket(const std::string& path) : path_(path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        throw NotRunning("no host can serve at \"" + path + "\": not a socket path");
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        throw NotRunning(std::string("cannot make a socket: ") + std::strerror(errno));
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        if (error == ENOENT) {
            throw NotRunning("no host is running: " + path +
                             " does not exist (start one with `zntr host`)");
        }
        if (error == ECONNREFUSED) {
            throw NotRunning("no host is running at " + path +
                             " (the socket is left from a host that has ended)");
        }
        throw NotRunning("cannot reach the host at " + path + ": " + std::strerror(error));
    }
}

HostSocket::~HostSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool HostSocket::Send(const zntr::protocol::Message& message) {
    const std::vector<std::uint8_t> frame = zntr::protocol::EncodeFrame(message);
    std::lock_guard<std::mutex> lock(sendMutex_);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<zntr::protocol::Message> HostSocket::Receive() {
    zntr::protocol::Message message;
    std::string problem;
    for (;;) {
        switch (reader_.Next(message, &problem)) {
            case zntr::protocol::FrameReader::Result::kMessage:
                return message;
            case zntr::protocol::FrameReader::Result::kMalformed:
                throw DeviceError(DeviceError::Kind::kProtocol, E_UNEXPECTED,
                                  "the host at " + path_ + " sent a malformed message: " + problem);
            case zntr::protocol::FrameReader::Result::kNeedMore:
                break;
        }
        std::uint8_t buffer[65536];
        const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::nullopt;
        }
        reader_.Append(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
    }
}

void HostSocket::Shutdown() {
    ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace zntr::client
