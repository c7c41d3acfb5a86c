// The messages between the framework host and its clients on the host's Unix stream socket, and
// their framing. The format is described in full in host/protocol.md; in short, every message is
// a 32-bit little-endian length followed by that many bytes, the first of which is the message
// type. Numbers are little-endian; statuses are HRESULTs sent as 32-bit signed numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "standin/windef.h"
#include "standin/winerror.h"

namespace zntr::protocol {

inline constexpr std::uint32_t kProtocolVersion = 1;
// The largest read, I/O control input or output buffer a client may ask for.
inline constexpr std::uint32_t kMaxTransferSize = 1u << 20;
// The longest file name an open may carry, in bytes of UTF-8.
inline constexpr std::uint32_t kMaxFileNameSize = 1024;
// The largest message body: a transfer with the header of the longest message.
inline constexpr std::uint32_t kMaxMessageSize = kMaxTransferSize + 64;

enum class MessageType : std::uint8_t {
    kOpen = 0x01,
    kControl = 0x02,
    kRead = 0x03,
    kDeviceIoControl = 0x04,
    kOpened = 0x81,
    kControlResult = 0x82,
    kCompleted = 0x83,
};

// The commands a control connection carries; host_commands.h names them.
enum class HostCommand : std::uint8_t {
    kStatus = 1,
    kStop = 2,
    kPowerSleep = 3,
    kPowerHibernate = 4,
    kPowerWake = 5,
    kQueryRemove = 6,
    kQueryStop = 7,
    kSurpriseRemove = 8,
    kRelease = 9,
};

// Client to host: the first message of a file's connection.
struct OpenMessage {
    std::uint32_t version = kProtocolVersion;
    std::string fileName;  // UTF-8, may be empty
    bool operator==(const OpenMessage&) const = default;
};
// Client to host: the first and only message of a control connection.
struct ControlMessage {
    std::uint32_t version = kProtocolVersion;
    HostCommand command = HostCommand::kStatus;
    bool operator==(const ControlMessage&) const = default;
};
// Client to host: a read of at most `length` bytes.
struct ReadMessage {
    std::uint64_t requestId = 0;
    std::uint32_t length = 0;
    bool operator==(const ReadMessage&) const = default;
};
// Client to host: a device I/O control request.
struct DeviceIoControlMessage {
    std::uint64_t requestId = 0;
    ULONG controlCode = 0;
    std::uint32_t outputLength = 0;
    std::vector<std::uint8_t> input;
    bool operator==(const DeviceIoControlMessage&) const = default;
};
// Host to client: how the open went. A failure is the last message of the connection.
struct OpenedMessage {
    HRESULT status = S_OK;
    bool operator==(const OpenedMessage&) const = default;
};
// Host to client: the outcome of a control command, with a text (JSON for the status query).
struct ControlResultMessage {
    HRESULT status = S_OK;
    std::string text;
    bool operator==(const ControlResultMessage&) const = default;
};
// Host to client: a request's completion and the bytes it delivered.
struct CompletedMessage {
    std::uint64_t requestId = 0;
    HRESULT status = S_OK;
    std::vector<std::uint8_t> data;
    bool operator==(const CompletedMessage&) const = default;
};

using Message = std::variant<OpenMessage, ControlMessage, ReadMessage, DeviceIoControlMessage,
                             OpenedMessage, ControlResultMessage, CompletedMessage>;

// The whole frame of a message: its length, then its body.
std::vector<std::uint8_t> EncodeFrame(const Message& message);

// The message in a frame's body, or nothing (and the reason in *error) when the body is not a
// well-formed message: an unknown type or command, a size that does not match the type, or a
// length beyond the limits above.
std::optional<Message> DecodeBody(std::span<const std::uint8_t> body, std::string* error);

// Cuts a byte stream into frames.
class FrameReader {
  public:
    enum class Result { kMessage, kNeedMore, kMalformed };

    void Append(std::span<const std::uint8_t> bytes);
    // The next message when a whole frame has arrived. kMalformed (with the reason in *error)
    // is final: the stream cannot be resynchronised, and its connection is to be closed.
    Result Next(Message& message, std::string* error);
    // Bytes received but not yet taken as messages.
    std::size_t Buffered() const { return buffer_.size() - start_; }

  private:
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
    bool malformed_ = false;
};

}  // namespace zntr::protocol
