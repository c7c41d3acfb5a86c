#include "sensor_message.h"

#include "message_wire.h"
#include "standin/propidl.h"

namespace zntr::sensor_message {
namespace {

// The header: magic (u32), version (u16), command (u16), status (u32), body length (u32).
void WriteHeader(wire::Writer& writer, std::uint16_t command, HRESULT status,
                 std::uint32_t bodyBytes) {
    writer.U32(kMagic);
    writer.U16(kVersion);
    writer.U16(command);
    writer.U32(static_cast<std::uint32_t>(status));
    writer.U32(bodyBytes);
}

// A message whose header is written last, once the body's length is known.
std::vector<std::uint8_t> Frame(std::uint16_t command, HRESULT status, wire::Writer& body) {
    if (!body.Ok() || body.Bytes().size() > kMaxMessageBytes - kHeaderBytes) {
        return {};
    }
    wire::Writer message;
    WriteHeader(message, command, status, static_cast<std::uint32_t>(body.Bytes().size()));
    message.Bytes().insert(message.Bytes().end(), body.Bytes().begin(), body.Bytes().end());
    return std::move(message.Bytes());
}

// Reads the header and checks what every message must satisfy; the reader is left at the body.
HRESULT ReadHeader(wire::Reader& reader, std::size_t messageBytes, Header* header) {
    if (messageBytes < kHeaderBytes || messageBytes > kMaxMessageBytes) {
        return kStatusMalformed;
    }
    const std::uint32_t magic = reader.U32();
    const std::uint16_t version = reader.U16();
    header->command = reader.U16();
    header->status = static_cast<HRESULT>(reader.U32());
    header->bodyBytes = reader.U32();
    if (magic != kMagic) {
        return kStatusMalformed;
    }
    return version == kVersion ? S_OK : kStatusNotSupported;
}

}  // namespace

const CommandInfo* FindCommand(std::uint16_t number) {
    for (const CommandInfo& info : kCommands) {
        if (static_cast<std::uint16_t>(info.command) == number) {
            return &info;
        }
    }
    return nullptr;
}

VARTYPE VarTypeOf(const Value& value) {
    // In the order of Value's alternatives.
    static constexpr VARTYPE kTypes[] = {
        VT_EMPTY,           VT_R8,    VT_R4,  VT_I4, VT_UI4, VT_LPWSTR, VT_CLSID, VT_FILETIME,
        VT_VECTOR | VT_UI1, VT_ERROR, VT_BOOL};
    static_assert(std::size(kTypes) == std::variant_size_v<Value>);
    return kTypes[value.index()];
}

const Value* FindValue(const ValueList& values, const PROPERTYKEY& key) {
    for (const KeyedValue& entry : values) {
        if (IsEqualPropertyKey(entry.key, key)) {
            return &entry.value;
        }
    }
    return nullptr;
}

std::vector<std::uint8_t> EncodeRequest(const Request& request) {
    const CommandInfo* info = FindCommand(static_cast<std::uint16_t>(request.command));
    if (info == nullptr) {
        return {};
    }
    wire::Writer body;
    body.Text(request.sensorId);
    if (info->request == Payload::kKeys) {
        body.Keys(request.keys);
    } else if (info->request == Payload::kValues) {
        body.Values(request.values);
    }
    return Frame(static_cast<std::uint16_t>(request.command), S_OK, body);
}

std::vector<std::uint8_t> EncodeAnswer(const Answer& answer) {
    const CommandInfo* info = FindCommand(static_cast<std::uint16_t>(answer.command));
    wire::Writer body;
    if (info != nullptr && SUCCEEDED(answer.status)) {
        switch (info->answer) {
            case Payload::kNone:
                break;
            case Payload::kKeys:
                body.Keys(answer.keys);
                break;
            case Payload::kValues:
                body.Values(answer.values);
                break;
            case Payload::kValueLists:
                body.ValueLists(answer.valueLists);
                break;
            case Payload::kGuids:
                body.Guids(answer.guids);
                break;
            case Payload::kEvent:
                body.U32(answer.event.droppedBefore);
                body.Text(answer.event.sensorId);
                body.Guid(answer.event.eventId);
                body.Values(answer.event.parameters);
                break;
        }
    }
    return Frame(static_cast<std::uint16_t>(answer.command), answer.status, body);
}

std::vector<std::uint8_t> EncodeBufferTooSmall(Command command, std::uint32_t neededBodyBytes) {
    wire::Writer message;
    WriteHeader(message, static_cast<std::uint16_t>(command), kStatusBufferTooSmall,
                neededBodyBytes);
    return std::move(message.Bytes());
}

HRESULT DecodeHeader(std::span<const std::uint8_t> message, Header* header) {
    wire::Reader reader(message);
    return ReadHeader(reader, message.size(), header);
}

HRESULT DecodeRequest(std::span<const std::uint8_t> message, Request* request) {
    wire::Reader reader(message);
    Header header;
    HRESULT hr = ReadHeader(reader, message.size(), &header);
    if (FAILED(hr)) {
        return hr;
    }
    // A request carries no status, and its body is exactly the rest of the message.
    if (header.status != S_OK || header.bodyBytes != message.size() - kHeaderBytes) {
        return kStatusMalformed;
    }
    const CommandInfo* info = FindCommand(header.command);
    if (info == nullptr) {
        return kStatusNotSupported;
    }
    request->command = info->command;
    request->sensorId = reader.Text();
    request->keys.clear();
    request->values.clear();
    if (info->request == Payload::kKeys) {
        request->keys = reader.Keys();
    } else if (info->request == Payload::kValues) {
        request->values = reader.Values();
    }
    return reader.Finished() ? S_OK : kStatusMalformed;
}

HRESULT DecodeAnswer(std::span<const std::uint8_t> message, Answer* answer) {
    wire::Reader reader(message);
    Header header;
    HRESULT hr = ReadHeader(reader, message.size(), &header);
    if (FAILED(hr)) {
        return hr;
    }
    *answer = Answer();
    answer->command = static_cast<Command>(header.command);
    answer->status = header.status;
    // The one answer whose length field does not describe the bytes that follow: the header of
    // an answer that did not fit, naming the body it needs.
    if (header.status == kStatusBufferTooSmall) {
        answer->neededBodyBytes = header.bodyBytes;
        return reader.Finished() ? S_OK : kStatusMalformed;
    }
    if (header.bodyBytes != message.size() - kHeaderBytes) {
        return kStatusMalformed;
    }
    if (FAILED(header.status)) {
        // A refusal is the header alone, and may name no command it could read.
        return reader.Finished() ? S_OK : kStatusMalformed;
    }
    const CommandInfo* info = FindCommand(header.command);
    if (info == nullptr) {
        return kStatusNotSupported;
    }
    switch (info->answer) {
        case Payload::kNone:
            break;
        case Payload::kKeys:
            answer->keys = reader.Keys();
            break;
        case Payload::kValues:
            answer->values = reader.Values();
            break;
        case Payload::kValueLists:
            answer->valueLists = reader.ValueLists();
            break;
        case Payload::kGuids:
            answer->guids = reader.Guids();
            break;
        case Payload::kEvent:
            answer->event.droppedBefore = reader.U32();
            answer->event.sensorId = reader.Text();
            answer->event.eventId = reader.Guid();
            answer->event.parameters = reader.Values();
            break;
    }
    return reader.Finished() ? S_OK : kStatusMalformed;
}

}  // namespace zntr::sensor_message
