#include "client_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zntr::host {

using Microsoft::WRL::ComPtr;

namespace {
// A client that lets this much output pile up is not reading its answers.
constexpr std::size_t kMaxOutput = 64u << 20;
// Beyond these the host reads no more of a client's messages until it has fewer in hand: a
// client that floods requests without taking its answers is slowed down to its own pace (its
// sends block once the socket's buffers are full) instead of growing the host without bound.
constexpr std::size_t kMaxPendingRequests = 256;
constexpr std::size_t kMaxWaitingOutput = 1u << 20;
}  // namespace

ClientConnection::ClientConnection(int fd, std::uint64_t serial, std::function<void()> wake)
    : fd_(fd), serial_(serial), wake_(std::move(wake)) {}

ClientConnection::~ClientConnection() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

ClientConnection::State ClientConnection::GetState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void ClientConnection::SetState(State state) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
}

void ClientConnection::SetFile(ComPtr<FrameworkFile> file) {
    std::lock_guard<std::mutex> lock(mutex_);
    file_ = std::move(file);
}

ComPtr<FrameworkFile> ClientConnection::File() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_;
}

void ClientConnection::Send(const zntr::protocol::Message& message, bool closeAfter) {
    const std::vector<std::uint8_t> frame = zntr::protocol::EncodeFrame(message);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::kClosed || closeAfterOutput_) {
            return;
        }
        output_.insert(output_.end(), frame.begin(), frame.end());
        closeAfterOutput_ = closeAfter;
    }
    wake_();
}

ComPtr<FrameworkFile> ClientConnection::OpenCompleted(HRESULT status) {
    ComPtr<FrameworkFile> handBack;
    ComPtr<FrameworkFile> refused;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (SUCCEEDED(status)) {
            if (state_ == State::kClosed) {
                handBack.Swap(file_);
            } else {
                state_ = State::kOpen;
            }
        } else {
            refused.Swap(file_);  // a file whose create failed is never cleaned up
        }
    }
    Send(zntr::protocol::OpenedMessage{status}, FAILED(status));
    return handBack;
}

void ClientConnection::RequestCompleted(const zntr::protocol::CompletedMessage& completion) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.erase(completion.requestId);
    }
    Send(completion);
}

bool ClientConnection::AddPending(std::uint64_t requestId) {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.insert(requestId).second;
}

bool ClientConnection::HasOutput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outputOffset_ < output_.size();
}

bool ClientConnection::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    while (outputOffset_ < output_.size()) {
        const ssize_t sent = ::send(fd_, output_.data() + outputOffset_,
                                    output_.size() - outputOffset_, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        outputOffset_ += static_cast<std::size_t>(sent);
    }
    output_.clear();
    outputOffset_ = 0;
    return true;
}

bool ClientConnection::CloseDue() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closeAfterOutput_ && outputOffset_ >= output_.size();
}

bool ClientConnection::Overrun() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_.size() - outputOffset_ > kMaxOutput;
}

bool ClientConnection::Saturated() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size() >= kMaxPendingRequests ||
           output_.size() - outputOffset_ >= kMaxWaitingOutput;
}

ComPtr<FrameworkFile> ClientConnection::Close() {
    ComPtr<FrameworkFile> handBack;
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kOpen) {
        handBack.Swap(file_);
    }
    // A file still opening stays until its create comes back (OpenCompleted hands it back).
    state_ = State::kClosed;
    output_.clear();
    outputOffset_ = 0;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    return handBack;
}

}  // namespace zntr::host
