// The sensor messages that programs and the sensor class extension exchange inside the buffers
// of IOCTL_WPD_MESSAGE_READWRITE_ACCESS and IOCTL_WPD_MESSAGE_READ_ACCESS requests: a framed
// binary format of this project's own. host/class_extension/README.md describes the layout byte
// by byte; this header is the one encoder and decoder both sides use.
//
// A request names a command and a sensor and carries the command's payload; an answer echoes the
// command and carries a status (the HRESULT of the driver's callback, or the class extension's
// own refusal) and, for a successful query, its payload. Every length and count on the wire is
// checked against the bytes that are really there and against a fixed limit before anything is
// allocated: a client is a trust boundary, and a malformed message is refused with a status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "standin/propidl.h"
#include "standin/propkeydef.h"
#include "standin/windef.h"
#include "standin/winerror.h"

namespace zntr::sensor_message {

// The first four bytes of every message: "ZSNM".
inline constexpr std::uint32_t kMagic = 0x4D4E535Au;
inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::size_t kHeaderBytes = 16;

// Limits of what one message may hold. A message over them is refused as malformed.
inline constexpr std::size_t kMaxMessageBytes = 1u << 20;
inline constexpr std::uint32_t kMaxStringUnits = 32767;     // UTF-16 code units
inline constexpr std::uint32_t kMaxCollectionCount = 4096;  // keys, values or GUIDs
inline constexpr std::uint32_t kMaxValueListCount = 256;    // values collections in a collection
inline constexpr std::uint32_t kMaxByteVector = 65536;      // VT_VECTOR | VT_UI1 elements

// Statuses the class extension answers with on its own account, beside those of the driver's
// callbacks. The Win32 codes are written out where the stand-in's winerror.h has no name for
// them.
inline constexpr HRESULT kStatusMalformed = E_INVALIDARG;
inline constexpr HRESULT kStatusNotSupported = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
inline constexpr HRESULT kStatusReadOnlyAccess = E_ACCESSDENIED;
inline constexpr HRESULT kStatusBufferTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
inline constexpr HRESULT kStatusUnknownSensor = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
// ERROR_NOT_READY (21): the class extension is not initialised (before Initialize, after
// Uninitialize).
inline constexpr HRESULT kStatusNotReady = HRESULT_FROM_WIN32(21);
// ERROR_INVALID_STATE (5023): the file is not connected (or not subscribed) to that sensor.
inline constexpr HRESULT kStatusWrongState = HRESULT_FROM_WIN32(5023);
// ERROR_BUSY (170): the file already has as many waits pending as the class extension keeps.
inline constexpr HRESULT kStatusTooManyWaits = HRESULT_FROM_WIN32(170);
// ERROR_OPERATION_ABORTED (995): a wait for an event ended without one: the file holds no
// subscription any more, the file was cleaned up, or the class extension was uninitialised.
inline constexpr HRESULT kStatusEnded = HRESULT_FROM_WIN32(995);
// The driver's answer holds what no message can carry (more entries than the limits allow, or
// text that is not Unicode).
inline constexpr HRESULT kStatusUnencodable = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

enum class Command : std::uint16_t {
    kGetSupportedSensorObjects = 1,
    kGetSupportedProperties = 2,
    kGetSupportedDataFields = 3,
    kGetSupportedEvents = 4,
    kGetProperties = 5,
    kGetDataFields = 6,
    kSetProperties = 7,
    kConnect = 8,
    kDisconnect = 9,
    kSubscribe = 10,
    kUnsubscribe = 11,
    kWaitForEvent = 12,
};

// What a request or an answer carries after its fixed parts.
enum class Payload : std::uint8_t {
    kNone,
    kKeys,        // a key collection
    kValues,      // a values collection
    kValueLists,  // a collection of values collections
    kGuids,       // a GUID list
    kEvent,       // an event
};

struct CommandInfo {
    Command command;
    const char* name;
    Payload request;
    Payload answer;
    bool changesSensor;  // refused on a read-access request
};

// Every command, what its request and its answer carry, and whether it changes the sensor.
inline constexpr CommandInfo kCommands[] = {
    {Command::kGetSupportedSensorObjects, "get-supported-sensor-objects", Payload::kNone,
     Payload::kValueLists, false},
    {Command::kGetSupportedProperties, "get-supported-properties", Payload::kNone, Payload::kKeys,
     false},
    {Command::kGetSupportedDataFields, "get-supported-data-fields", Payload::kNone, Payload::kKeys,
     false},
    {Command::kGetSupportedEvents, "get-supported-events", Payload::kNone, Payload::kGuids, false},
    {Command::kGetProperties, "get-properties", Payload::kKeys, Payload::kValues, false},
    {Command::kGetDataFields, "get-data-fields", Payload::kKeys, Payload::kValues, false},
    {Command::kSetProperties, "set-properties", Payload::kValues, Payload::kValues, true},
    {Command::kConnect, "connect", Payload::kNone, Payload::kNone, false},
    {Command::kDisconnect, "disconnect", Payload::kNone, Payload::kNone, false},
    {Command::kSubscribe, "subscribe", Payload::kNone, Payload::kNone, false},
    {Command::kUnsubscribe, "unsubscribe", Payload::kNone, Payload::kNone, false},
    {Command::kWaitForEvent, "wait-for-event", Payload::kNone, Payload::kEvent, false},
};

// The table's row for a command, or null for a number that names none.
const CommandInfo* FindCommand(std::uint16_t number);

// A value as the sensor's PROPVARIANTs hold it, one alternative per type the format carries.
struct FileTime {
    std::uint64_t ticks = 0;  // 100-nanosecond intervals since 1601-01-01 UTC
    bool operator==(const FileTime&) const = default;
};
struct ErrorCode {
    HRESULT code = S_OK;
    bool operator==(const ErrorCode&) const = default;
};
using Bytes = std::vector<std::uint8_t>;
using Value = std::variant<std::monostate,  // VT_EMPTY
                           double,          // VT_R8
                           float,           // VT_R4
                           std::int32_t,    // VT_I4
                           std::uint32_t,   // VT_UI4
                           std::wstring,    // VT_LPWSTR
                           GUID,            // VT_CLSID
                           FileTime,        // VT_FILETIME
                           Bytes,           // VT_VECTOR | VT_UI1
                           ErrorCode,       // VT_ERROR
                           bool>;           // VT_BOOL

// The PROPVARIANT type that stands for the value's alternative on the wire.
VARTYPE VarTypeOf(const Value& value);

struct KeyedValue {
    PROPERTYKEY key{};
    Value value;

    bool operator==(const KeyedValue& other) const {
        return IsEqualPropertyKey(key, other.key) && value == other.value;
    }
};
// A values collection, in the order its keys were added.
using ValueList = std::vector<KeyedValue>;

// The value under a key, or null when the list has none.
const Value* FindValue(const ValueList& values, const PROPERTYKEY& key);

// An event as a wait for one delivers it.
struct Event {
    // Events of the file that the class extension dropped, oldest first, because the file's
    // queue was full, since the last event it delivered to the file.
    std::uint32_t droppedBefore = 0;
    std::wstring sensorId;
    GUID eventId{};        // SENSOR_EVENT_DATA_UPDATED, SENSOR_EVENT_STATE_CHANGED, ...
    ValueList parameters;  // with SENSOR_EVENT_PARAMETER_EVENT_ID first, as posted
};

struct Request {
    Command command = Command::kConnect;
    std::wstring sensorId;
    std::vector<PROPERTYKEY> keys;  // kGetProperties, kGetDataFields
    ValueList values;               // kSetProperties
};

struct Answer {
    Command command = Command::kConnect;
    HRESULT status = S_OK;
    // Only in an answer whose status is kStatusBufferTooSmall: the body the full answer needs,
    // in bytes (the header alone was delivered).
    std::uint32_t neededBodyBytes = 0;
    std::vector<ValueList> valueLists;  // kGetSupportedSensorObjects
    std::vector<PROPERTYKEY> keys;      // kGetSupportedProperties, kGetSupportedDataFields
    std::vector<GUID> guids;            // kGetSupportedEvents
    ValueList values;                   // kGetProperties, kGetDataFields, kSetProperties
    Event event;                        // kWaitForEvent
};

// Encoders. They fail (an empty result) only for what the format cannot carry: a string with a
// code point outside Unicode or a NUL in it, or a collection over the limits.
std::vector<std::uint8_t> EncodeRequest(const Request& request);
// The answer's payload is written when its status is a success; a failed answer is the header.
std::vector<std::uint8_t> EncodeAnswer(const Answer& answer);
// The header alone of an answer whose body does not fit, naming the body's size.
std::vector<std::uint8_t> EncodeBufferTooSmall(Command command, std::uint32_t neededBodyBytes);

// Decoders. S_OK, or kStatusMalformed for anything that does not hold together (wrong magic,
// lengths that disagree with the bytes, counts over the limits, unknown value types, bad text,
// trailing bytes), or kStatusNotSupported for another version or a command number no row of
// kCommands names. On failure the output is left unspecified.
HRESULT DecodeRequest(std::span<const std::uint8_t> message, Request* request);
HRESULT DecodeAnswer(std::span<const std::uint8_t> message, Answer* answer);

// The fixed header, read alone (for a refusal that names no command, command is 0).
struct Header {
    std::uint16_t command = 0;
    HRESULT status = S_OK;
    std::uint32_t bodyBytes = 0;
};
HRESULT DecodeHeader(std::span<const std::uint8_t> message, Header* header);

// What a status means, in a few words, for error messages: "E_UNEXPECTED: ...".
std::string DescribeStatus(HRESULT status);

}  // namespace zntr::sensor_message
