#include "device_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "host_commands.h"
#include "host_report.h"
#include "host_status.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;
using zntr::protocol::CompletedMessage;
using zntr::protocol::ControlMessage;
using zntr::protocol::ControlResultMessage;
using zntr::protocol::DeviceIoControlMessage;
using zntr::protocol::HostCommand;
using zntr::protocol::Message;
using zntr::protocol::OpenedMessage;
using zntr::protocol::OpenMessage;
using zntr::protocol::ReadMessage;

// The part of the server that completions and cleanups reach from other threads. It outlives the
// server when a driver completes a request after the server has gone: the wake-up descriptor
// stays valid, and `server` is null.
struct DeviceServerLink {
    explicit DeviceServerLink(int fd) : wakeFd(fd) {}
    ~DeviceServerLink() { ::close(wakeFd); }
    void Wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof(one));
    }

    const int wakeFd;
    std::mutex mutex;
    DeviceServer* server = nullptr;  // guarded by mutex
};

DeviceServer::DeviceServer(FrameworkHost& host, const std::string& socketPath, bool privateFolder,
                           std::function<void()> onStop, const std::string& socketGroup)
    : host_(host),
      socket_(socketPath, privateFolder,
              socketGroup.empty() ? std::nullopt : std::optional<gid_t>(ResolveGroup(socketGroup))),
      onStop_(std::move(onStop)) {
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        throw std::runtime_error(std::string("cannot make the server's wake-up: ") +
                                 std::strerror(errno));
    }
    link_ = std::make_shared<DeviceServerLink>(wakeFd);
    link_->server = this;
    wakeFd_ = wakeFd;
    controlThread_ = std::thread([this] { ControlLoop(); });
    ioThread_ = std::thread([this] { Loop(); });
}

DeviceServer::~DeviceServer() {
    Stop();
    std::lock_guard<std::mutex> lock(link_->mutex);
    link_->server = nullptr;
}

void DeviceServer::Stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    stopping_ = true;
    Wake();
    ioThread_.join();
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        controlStopping_ = true;
    }
    controlPosted_.notify_all();
    controlThread_.join();
    std::unique_lock<std::mutex> lock(cleanupMutex_);
    cleanupDone_.wait(lock, [this] { return cleanups_ == 0; });
}

void DeviceServer::Wake() {
    link_->Wake();
}

void DeviceServer::CleanupFinished() {
    std::lock_guard<std::mutex> lock(cleanupMutex_);
    --cleanups_;
    --openFiles_;
    cleanupDone_.notify_all();
}

void DeviceServer::Loop() {
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<ClientConnection>> polled;
    while (!stopping_) {
        fds.clear();
        polled = connections_;
        fds.push_back({wakeFd_, POLLIN, 0});
        fds.push_back({socket_.fd(), POLLIN, 0});
        for (const auto& connection : polled) {
            // A saturated connection is not read; its hang-up is still reported.
            const short events = static_cast<short>((connection->Saturated() ? 0 : POLLIN) |
                                                    (connection->HasOutput() ? POLLOUT : 0));
            fds.push_back({connection->fd(), events, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            ReportHostError(std::string("the server's poll failed: ") + std::strerror(errno));
            break;
        }
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof(count));
        }
        if ((fds[1].revents & POLLIN) != 0) {
            Accept();
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            const auto& connection = polled[i];
            const short revents = fds[i + 2].revents;
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
                !Receive(connection, (revents & (POLLHUP | POLLERR)) != 0)) {
                continue;  // closed
            }
            if (!connection->Flush()) {
                CloseConnection(connection, "");
            } else if (connection->CloseDue()) {
                CloseConnection(connection, "");
            } else if (connection->Overrun()) {
                CloseConnection(connection, "it does not read its answers");
            } else if (connection->Reader().Buffered() > 0 && !connection->Saturated()) {
                // Messages held back while it was saturated (a completion woke this pass).
                Dispatch(connection);
            }
        }
        // Connections accepted in this pass may already have output (none yet) or input; the
        // next poll sees them.
    }
    const auto remaining = connections_;
    for (const auto& connection : remaining) {
        CloseConnection(connection, "");
    }
}

void DeviceServer::Accept() {
    for (;;) {
        const int fd = ::accept4(socket_.fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                errno != ECONNABORTED) {
                ReportHostNotice(std::string("accept failed: ") + std::strerror(errno));
            }
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        std::shared_ptr<DeviceServerLink> link = link_;
        connections_.push_back(
            std::make_shared<ClientConnection>(fd, nextSerial_++, [link] { link->Wake(); }));
    }
}

bool DeviceServer::Receive(const std::shared_ptr<ClientConnection>& connection, bool hungUp) {
    // Messages held back while it was saturated go first, and a connection that a completion
    // saturated since the poll is read no further: the host holds at most one receive of a
    // client's messages on top of a partial one. A hung-up client is still read to its end.
    if (!Dispatch(connection)) {
        return false;
    }
    if (connection->Saturated() && !hungUp) {
        return true;
    }
    std::uint8_t buffer[65536];
    const ssize_t received = ::recv(connection->fd(), buffer, sizeof(buffer), MSG_DONTWAIT);
    if (received == 0) {
        CloseConnection(connection, "");
        return false;
    }
    if (received < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return true;
        }
        CloseConnection(connection, "");
        return false;
    }
    connection->Reader().Append(std::span<const std::uint8_t>(buffer, std::size_t(received)));
    return Dispatch(connection);
}

bool DeviceServer::Dispatch(const std::shared_ptr<ClientConnection>& connection) {
    Message message;
    std::string problem;
    while (!connection->Saturated()) {
        const auto result = connection->Reader().Next(message, &problem);
        if (result == zntr::protocol::FrameReader::Result::kNeedMore) {
            return true;
        }
        if (result == zntr::protocol::FrameReader::Result::kMalformed ||
            !Handle(connection, message, problem)) {
            CloseConnection(connection, problem);
            return false;
        }
    }
    return true;
}

bool DeviceServer::Handle(const std::shared_ptr<ClientConnection>& connection, Message& message,
                          std::string& problem) {
    const ClientConnection::State state = connection->GetState();
    if (state == ClientConnection::State::kNew) {
        if (auto* open = std::get_if<OpenMessage>(&message)) {
            if (open->version != zntr::protocol::kProtocolVersion) {
                connection->Send(OpenedMessage{HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH)}, true);
                return true;
            }
            Open(connection);
            return true;
        }
        if (auto* control = std::get_if<ControlMessage>(&message)) {
            connection->SetState(ClientConnection::State::kControl);
            if (control->version != zntr::protocol::kProtocolVersion) {
                connection->Send(
                    ControlResultMessage{HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH),
                                         "the host speaks protocol version " +
                                             std::to_string(zntr::protocol::kProtocolVersion)},
                    true);
                return true;
            }
            Control(connection, control->command);
            return true;
        }
        problem = "the first message must be an open or a control command";
        return false;
    }
    if (state != ClientConnection::State::kOpen) {
        problem = state == ClientConnection::State::kOpening
                      ? "a message before the open was answered"
                      : "a message after the control command";
        return false;
    }
    ComPtr<FrameworkFile> file = connection->File();
    std::shared_ptr<ClientConnection> owner = connection;
    if (auto* read = std::get_if<ReadMessage>(&message)) {
        if (!connection->AddPending(read->requestId)) {
            problem = "request id " + std::to_string(read->requestId) + " is already in use";
            return false;
        }
        const std::uint64_t id = read->requestId;
        host_.Device().Submit(FrameworkRequest::ReadRequest(
            file, read->length, [owner, id](const RequestResult& result) {
                owner->RequestCompleted(CompletedMessage{id, result.status, result.data});
            }));
        return true;
    }
    if (auto* control = std::get_if<DeviceIoControlMessage>(&message)) {
        if (!connection->AddPending(control->requestId)) {
            problem = "request id " + std::to_string(control->requestId) + " is already in use";
            return false;
        }
        const std::uint64_t id = control->requestId;
        host_.Device().Submit(FrameworkRequest::DeviceIoControlRequest(
            file, control->controlCode, control->input, control->outputLength,
            [owner, id](const RequestResult& result) {
                owner->RequestCompleted(CompletedMessage{id, result.status, result.data});
            }));
        return true;
    }
    problem = "an open file takes reads and device I/O control requests only";
    return false;
}

// The name an open carries (the part after the device's name) means nothing to the drivers this
// host serves: every open is of the device itself.
void DeviceServer::Open(const std::shared_ptr<ClientConnection>& connection) {
    connection->SetState(ClientConnection::State::kOpening);
    ComPtr<FrameworkFile> file = FrameworkFile::Create(&host_.Device());
    connection->SetFile(file);
    std::shared_ptr<DeviceServerLink> link = link_;
    std::shared_ptr<ClientConnection> owner = connection;
    host_.Device().Submit(
        FrameworkRequest::CreateFileRequest(file, [link, owner](const RequestResult& result) {
            if (FAILED(result.status)) {
                owner->OpenCompleted(result.status);
                return;
            }
            std::lock_guard<std::mutex> lock(link->mutex);
            if (link->server != nullptr) {
                ++link->server->openFiles_;
            }
            ComPtr<FrameworkFile> closedMeanwhile = owner->OpenCompleted(result.status);
            if (closedMeanwhile && link->server != nullptr) {
                link->server->Cleanup(std::move(closedMeanwhile));
            }
        }));
}

void DeviceServer::Control(const std::shared_ptr<ClientConnection>& connection,
                           HostCommand command) {
    std::shared_ptr<ClientConnection> owner = connection;
    {
        std::lock_guard<std::mutex> lock(controlMutex_);
        controlJobs_.push_back([this, owner, command] {
            const auto& name = zntr::protocol::NameOf(command);
            std::string text = std::string(name.group) + " " + std::string(name.verb);
            HRESULT hr = S_OK;
            if (command == HostCommand::kStatus) {
                text = host_.StatusJson(openFiles_.load());
            } else if (command != HostCommand::kStop) {
                hr = host_.RunCommand(command);
            }
            owner->Send(ControlResultMessage{hr, text}, true);
            if (command == HostCommand::kStop && onStop_) {
                onStop_();
            }
        });
    }
    controlPosted_.notify_one();
}

void DeviceServer::ControlLoop() {
    std::unique_lock<std::mutex> lock(controlMutex_);
    for (;;) {
        controlPosted_.wait(lock, [this] { return controlStopping_ || !controlJobs_.empty(); });
        if (controlJobs_.empty()) {
            return;
        }
        std::function<void()> job = std::move(controlJobs_.front());
        controlJobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
}

void DeviceServer::CloseConnection(const std::shared_ptr<ClientConnection>& connection,
                                   const std::string& reason) {
    if (!reason.empty()) {
        ReportHostNotice("closed connection " + std::to_string(connection->Serial()) + ": " +
                         reason);
    }
    ComPtr<FrameworkFile> file = connection->Close();
    std::erase(connections_, connection);
    if (file) {
        Cleanup(std::move(file));
    }
}

void DeviceServer::Cleanup(ComPtr<FrameworkFile> file) {
    {
        std::lock_guard<std::mutex> lock(cleanupMutex_);
        ++cleanups_;
    }
    std::shared_ptr<DeviceServerLink> link = link_;
    host_.Device().CleanupFile(std::move(file), [link] {
        std::lock_guard<std::mutex> lock(link->mutex);
        if (link->server != nullptr) {
            link->server->CleanupFinished();
        }
    });
}

}  // namespace zntr::host
