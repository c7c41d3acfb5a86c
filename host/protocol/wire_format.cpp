#include "wire_format.h"

#include <cstring>
#include <type_traits>

namespace zntr::protocol {
namespace {

class Writer {
  public:
    void U8(std::uint8_t value) { bytes_.push_back(value); }
    void U16(std::uint16_t value) { Little(value, 2); }
    void U32(std::uint32_t value) { Little(value, 4); }
    void U64(std::uint64_t value) { Little(value, 8); }
    void Status(HRESULT value) { U32(static_cast<std::uint32_t>(value)); }
    void Bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    // Puts the body's length in front of it.
    std::vector<std::uint8_t> Frame() && {
        std::vector<std::uint8_t> frame;
        frame.reserve(bytes_.size() + 4);
        const auto size = static_cast<std::uint32_t>(bytes_.size());
        for (int i = 0; i < 4; ++i) {
            frame.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
        }
        frame.insert(frame.end(), bytes_.begin(), bytes_.end());
        return frame;
    }

  private:
    void Little(std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i) {
            bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }
    std::vector<std::uint8_t> bytes_;
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool U8(std::uint8_t& value) { return Little(value); }
    bool U16(std::uint16_t& value) { return Little(value); }
    bool U32(std::uint32_t& value) { return Little(value); }
    bool U64(std::uint64_t& value) { return Little(value); }
    bool Status(HRESULT& value) {
        std::uint32_t raw = 0;
        if (!U32(raw)) {
            return false;
        }
        value = static_cast<HRESULT>(raw);
        return true;
    }
    std::span<const std::uint8_t> Rest() {
        const auto rest = bytes_.subspan(offset_);
        offset_ = bytes_.size();
        return rest;
    }
    bool Take(std::size_t size, std::span<const std::uint8_t>& taken) {
        if (bytes_.size() - offset_ < size) {
            return false;
        }
        taken = bytes_.subspan(offset_, size);
        offset_ += size;
        return true;
    }
    bool AtEnd() const { return offset_ == bytes_.size(); }

  private:
    template <typename T>
    bool Little(T& value) {
        if (bytes_.size() - offset_ < sizeof(T)) {
            return false;
        }
        std::uint64_t result = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            result |= static_cast<std::uint64_t>(bytes_[offset_ + i]) << (8 * i);
        }
        offset_ += sizeof(T);
        value = static_cast<T>(result);
        return true;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
};

std::optional<Message> Fail(std::string* error, const char* reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return std::nullopt;
}

bool KnownCommand(std::uint8_t command) {
    return command >= static_cast<std::uint8_t>(HostCommand::kStatus) &&
           command <= static_cast<std::uint8_t>(HostCommand::kRelease);
}

}  // namespace

std::vector<std::uint8_t> EncodeFrame(const Message& message) {
    Writer w;
    std::visit(
        [&w](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, OpenMessage>) {
                w.U8(static_cast<std::uint8_t>(MessageType::kOpen));
                w.U32(m.version);
                w.U16(static_cast<std::uint16_t>(m.fileName.size()));
                w.Bytes(m.fileName.data(), m.fileName.size());
            } else if constexpr (std::is_same_v<M, ControlMessage>) {
                w.U8(static_cast<std::uint8_t>(MessageType::kControl));
                w.U32(m.version);
                w.U8(static_cast<std::uint8_t>(m.command));
            } else if constexpr (std::is_same_v<M, ReadMessage>) {
                w.U8(static_cast<std::uint8_t>(MessageType::kRead));
                w.U64(m.requestId);
                w.U32(m.length);
            } else if constexpr (std::is_same_v<M, DeviceIoControlMessage>) {
                w.U8(static_cast<std::uint8_t>(MessageType::kDeviceIoControl));
                w.U64(m.requestId);
                w.U32(m.controlCode);
                w.U32(m.outputLength);
                w.Bytes(m.input.data(), m.input.size());
            } else if constexpr (std::is_same_v<M, OpenedMessage>) {
                w.U8(static_cast<std::uint8_t>(MessageType::kOpened));
                w.Status(m.status);
            } else if constexpr (std::is_same_v<M, ControlResultMessage>) {
                w.U8(static_cast<std::uint8_t>(MessageType::kControlResult));
                w.Status(m.status);
                w.Bytes(m.text.data(), m.text.size());
            } else {
                static_assert(std::is_same_v<M, CompletedMessage>);
                w.U8(static_cast<std::uint8_t>(MessageType::kCompleted));
                w.U64(m.requestId);
                w.Status(m.status);
                w.Bytes(m.data.data(), m.data.size());
            }
        },
        message);
    return std::move(w).Frame();
}

std::optional<Message> DecodeBody(std::span<const std::uint8_t> body, std::string* error) {
    if (body.size() > kMaxMessageSize) {
        return Fail(error, "message longer than the limit");
    }
    Reader r(body);
    std::uint8_t type = 0;
    if (!r.U8(type)) {
        return Fail(error, "empty message");
    }
    switch (static_cast<MessageType>(type)) {
        case MessageType::kOpen: {
            OpenMessage m;
            std::uint16_t nameSize = 0;
            std::span<const std::uint8_t> name;
            if (!r.U32(m.version) || !r.U16(nameSize) || !r.Take(nameSize, name) || !r.AtEnd()) {
                return Fail(error, "open: wrong size");
            }
            if (nameSize > kMaxFileNameSize) {
                return Fail(error, "open: file name longer than the limit");
            }
            m.fileName.assign(name.begin(), name.end());
            return m;
        }
        case MessageType::kControl: {
            ControlMessage m;
            std::uint8_t command = 0;
            if (!r.U32(m.version) || !r.U8(command) || !r.AtEnd()) {
                return Fail(error, "control: wrong size");
            }
            if (!KnownCommand(command)) {
                return Fail(error, "control: unknown command");
            }
            m.command = static_cast<HostCommand>(command);
            return m;
        }
        case MessageType::kRead: {
            ReadMessage m;
            if (!r.U64(m.requestId) || !r.U32(m.length) || !r.AtEnd()) {
                return Fail(error, "read: wrong size");
            }
            if (m.length > kMaxTransferSize) {
                return Fail(error, "read: length beyond the limit");
            }
            return m;
        }
        case MessageType::kDeviceIoControl: {
            DeviceIoControlMessage m;
            if (!r.U64(m.requestId) || !r.U32(m.controlCode) || !r.U32(m.outputLength)) {
                return Fail(error, "device I/O control: wrong size");
            }
            const auto input = r.Rest();
            if (m.outputLength > kMaxTransferSize || input.size() > kMaxTransferSize) {
                return Fail(error, "device I/O control: buffer beyond the limit");
            }
            m.input.assign(input.begin(), input.end());
            return m;
        }
        case MessageType::kOpened: {
            OpenedMessage m;
            if (!r.Status(m.status) || !r.AtEnd()) {
                return Fail(error, "opened: wrong size");
            }
            return m;
        }
        case MessageType::kControlResult: {
            ControlResultMessage m;
            if (!r.Status(m.status)) {
                return Fail(error, "control result: wrong size");
            }
            const auto text = r.Rest();
            m.text.assign(text.begin(), text.end());
            return m;
        }
        case MessageType::kCompleted: {
            CompletedMessage m;
            if (!r.U64(m.requestId) || !r.Status(m.status)) {
                return Fail(error, "completed: wrong size");
            }
            const auto data = r.Rest();
            if (data.size() > kMaxTransferSize) {
                return Fail(error, "completed: data beyond the limit");
            }
            m.data.assign(data.begin(), data.end());
            return m;
        }
    }
    return Fail(error, "unknown message type");
}

void FrameReader::Append(std::span<const std::uint8_t> bytes) {
    // Drop what was taken before growing, so the buffer holds at most one frame and a piece.
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    } else if (start_ > 4096 && start_ * 2 > buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

FrameReader::Result FrameReader::Next(Message& message, std::string* error) {
    if (malformed_) {
        if (error != nullptr) {
            *error = "stream already malformed";
        }
        return Result::kMalformed;
    }
    const std::size_t available = buffer_.size() - start_;
    if (available < 4) {
        return Result::kNeedMore;
    }
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) {
        size |= static_cast<std::uint32_t>(buffer_[start_ + static_cast<std::size_t>(i)])
                << (8 * i);
    }
    // A length out of bounds is known before its body arrives; waiting for it would let a
    // client make the host buffer gigabytes.
    if (size == 0 || size > kMaxMessageSize) {
        malformed_ = true;
        if (error != nullptr) {
            *error = size == 0 ? "empty message" : "message longer than the limit";
        }
        return Result::kMalformed;
    }
    if (available - 4 < size) {
        return Result::kNeedMore;
    }
    const std::span<const std::uint8_t> body(buffer_.data() + start_ + 4, size);
    std::optional<Message> decoded = DecodeBody(body, error);
    if (!decoded) {
        malformed_ = true;
        return Result::kMalformed;
    }
    start_ += 4 + size;
    message = std::move(*decoded);
    return Result::kMessage;
}

}  // namespace zntr::protocol
