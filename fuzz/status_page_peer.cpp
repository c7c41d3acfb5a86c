#include "status_page_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace zntr::fuzz {

namespace {

// How long the peer waits for the client, at most: a discovery that hangs is a finding, and
// the fuzzer's own timeout reports it; the peer only must not outlive it.
constexpr int kPatienceMs = 5000;
// The pause between the two parts, so that the first receive takes the first part alone.
constexpr auto kPartPause = std::chrono::milliseconds(2);

bool SendAll(int socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool Readable(int socket) {
    pollfd entry{socket, POLLIN, 0};
    return ::poll(&entry, 1, kPatienceMs) == 1;
}

}  // namespace

bool ReceivesAgain(const std::string& firstAnswer) {
    const std::string text = firstAnswer.substr(0, firstAnswer.find('\0'));
    return !text.empty() && text.find("WwPort=") == std::string::npos;
}

StatusPagePeer::StatusPagePeer(std::string firstPart, std::string secondPart)
    : firstPart_(std::move(firstPart)), secondPart_(std::move(secondPart)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener_);
        listener_ = -1;
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

StatusPagePeer::~StatusPagePeer() {
    Finish();
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

void StatusPagePeer::Finish() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void StatusPagePeer::Serve() {
    if (!Readable(listener_)) {
        return;
    }
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
        return;
    }
    // The whole request first: closing with unread bytes would reset the connection and could
    // take the answer's bytes with it.
    char chunk[512];
    while (request_.find("\r\n\r\n") == std::string::npos && Readable(connection)) {
        const ssize_t n = ::recv(connection, chunk, sizeof(chunk), 0);
        if (n <= 0) {
            break;
        }
        request_.append(chunk, static_cast<std::size_t>(n));
    }
    // An empty first part is no answer at all: the connection closes without one.
    if (!firstPart_.empty() && SendAll(connection, firstPart_) && ReceivesAgain(firstPart_) &&
        !secondPart_.empty()) {
        std::this_thread::sleep_for(kPartPause);
        SendAll(connection, secondPart_);
    }
    ::shutdown(connection, SHUT_WR);
    // Until the client closes, so that its receives see the answer and then the end.
    while (Readable(connection) && ::recv(connection, chunk, sizeof(chunk), 0) > 0) {
    }
    ::close(connection);
}

}  // namespace zntr::fuzz
