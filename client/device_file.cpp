#include "device_file.h"

#include <utility>

#include "host_status.h"

namespace zntr::client {

using zntr::protocol::CompletedMessage;
using zntr::protocol::DeviceIoControlMessage;
using zntr::protocol::Message;
using zntr::protocol::OpenedMessage;
using zntr::protocol::OpenMessage;
using zntr::protocol::ReadMessage;

namespace {
constexpr HRESULT kHostGone = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
}  // namespace

DeviceFile::DeviceFile(const std::string& socketPath) : socket_(socketPath) {}

std::unique_ptr<DeviceFile> DeviceFile::Open(const std::string& socketPath,
                                             const std::string& fileName) {
    std::unique_ptr<DeviceFile> file(new DeviceFile(socketPath));
    OpenMessage open;
    open.fileName = fileName;
    if (!file->socket_.Send(open)) {
        throw DeviceError(DeviceError::Kind::kConnectionLost, kHostGone,
                          "the host at " + socketPath + " closed the connection");
    }
    const std::optional<Message> answer = file->socket_.Receive();
    if (!answer) {
        throw DeviceError(DeviceError::Kind::kConnectionLost, kHostGone,
                          "the host at " + socketPath +
                              " closed the connection before it "
                              "answered the open");
    }
    const auto* opened = std::get_if<OpenedMessage>(&*answer);
    if (opened == nullptr) {
        throw DeviceError(DeviceError::Kind::kProtocol, E_UNEXPECTED,
                          "the host at " + socketPath + " answered the open with another message");
    }
    if (FAILED(opened->status)) {
        throw DeviceError(DeviceError::Kind::kOpenRefused, opened->status,
                          "the device refused the open: " + DescribeDeviceStatus(opened->status));
    }
    file->receiver_ = std::thread([raw = file.get()] { raw->ReceiveLoop(); });
    return file;
}

DeviceFile::~DeviceFile() {
    Close();
}

void DeviceFile::Close() {
    std::call_once(closed_, [this] {
        socket_.Shutdown();
        if (receiver_.joinable()) {
            receiver_.join();
        }
        Lose(kHostGone);
    });
}

Completion DeviceFile::Read(std::size_t maxBytes) {
    if (maxBytes > zntr::protocol::kMaxTransferSize) {
        return Completion{E_INVALIDARG, {}};
    }
    std::uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        id = nextId_++;
    }
    return Transact(ReadMessage{id, static_cast<std::uint32_t>(maxBytes)}, id);
}

Completion DeviceFile::DeviceIoControl(ULONG controlCode, std::span<const std::uint8_t> input,
                                       std::size_t outputBytes) {
    if (outputBytes > zntr::protocol::kMaxTransferSize ||
        input.size() > zntr::protocol::kMaxTransferSize) {
        return Completion{E_INVALIDARG, {}};
    }
    std::uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        id = nextId_++;
    }
    DeviceIoControlMessage message;
    message.requestId = id;
    message.controlCode = controlCode;
    message.outputLength = static_cast<std::uint32_t>(outputBytes);
    message.input.assign(input.begin(), input.end());
    return Transact(message, id);
}

Completion DeviceFile::Transact(const Message& message, std::uint64_t id) {
    auto waiter = std::make_shared<Waiter>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lost_) {
            return Completion{kHostGone, {}};
        }
        waiting_[id] = waiter;
    }
    if (!socket_.Send(message)) {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_.erase(id);
        return Completion{kHostGone, {}};
    }
    std::unique_lock<std::mutex> lock(mutex_);
    completed_.wait(lock, [&waiter] { return waiter->done; });
    return std::move(waiter->completion);
}

void DeviceFile::ReceiveLoop() {
    try {
        while (const std::optional<Message> message = socket_.Receive()) {
            const auto* completion = std::get_if<CompletedMessage>(&*message);
            std::lock_guard<std::mutex> lock(mutex_);
            const auto it =
                completion != nullptr ? waiting_.find(completion->requestId) : waiting_.end();
            if (it == waiting_.end()) {
                break;  // not an answer to a request of this file: the host makes no sense
            }
            it->second->completion = Completion{completion->status, completion->data};
            it->second->done = true;
            waiting_.erase(it);
            completed_.notify_all();
        }
    } catch (const DeviceError&) {
        // A malformed message ends the connection like the host's going away.
    }
    socket_.Shutdown();
    Lose(kHostGone);
}

void DeviceFile::Lose(HRESULT status) {
    std::lock_guard<std::mutex> lock(mutex_);
    lost_ = true;
    for (auto& [id, waiter] : waiting_) {
        waiter->completion = Completion{status, {}};
        waiter->done = true;
    }
    waiting_.clear();
    completed_.notify_all();
}

}  // namespace zntr::client
