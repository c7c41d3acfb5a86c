// Sensor messages as text, for the tables of tests/data/wire and the class extension's steps:
// what a message decodes to as a request or as an answer, or the status it is refused with. The
// decoding is marked when encoding it again gives other bytes (the format has one encoding per
// message) or when the message cut short decodes too.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "sensor_key_names.h"
#include "sensor_message.h"
#include "table.h"

namespace zntr::test {

namespace message = zntr::sensor_message;
using Bytes = std::vector<std::uint8_t>;

inline const std::filesystem::path kWire = ZNTR_WIRE_DATA;

inline Bytes ReadBytes(const std::filesystem::path& path) {
    const std::string text = ReadTextFile(path);
    return Bytes(text.begin(), text.end());
}

inline std::string Status(HRESULT status) {
    const std::string text = message::DescribeStatus(status);
    const std::string name = text.substr(0, text.find(' '));
    return name.back() == ':' ? name.substr(0, name.size() - 1) : name;
}

inline std::string Keys(const std::vector<PROPERTYKEY>& keys) {
    std::string text;
    for (const PROPERTYKEY& key : keys) {
        text += (text.empty() ? "" : ", ") + zntr::client::KeyName(key);
    }
    return " [" + text + "]";
}

inline std::string Values(const message::ValueList& values) {
    std::string text;
    for (const message::KeyedValue& entry : values) {
        const auto* text16 = std::get_if<std::wstring>(&entry.value);
        const auto* guid = std::get_if<GUID>(&entry.value);
        text += (text.empty() ? "" : ", ") + zntr::client::KeyName(entry.key) + "=" +
                (text16 != nullptr ? "\"" + zntr::client::Utf8(*text16) + "\""
                 : guid != nullptr ? zntr::client::EventName(*guid)
                                   : zntr::client::FormatValue(entry.value));
    }
    return " [" + text + "]";
}

inline std::string Named(std::uint16_t command, const std::wstring& sensorId) {
    const message::CommandInfo* info = message::FindCommand(command);
    return std::string(info != nullptr ? info->name : "#" + std::to_string(command)) + " \"" +
           zntr::client::Utf8(sensorId) + "\"";
}

// The decoding, marked when the message encodes otherwise or a prefix of it decodes too.
template <typename Decoded>
std::string Checked(const Bytes& bytes, HRESULT (*decode)(std::span<const std::uint8_t>, Decoded*),
                    const Bytes& encoded, std::string text) {
    if (encoded != bytes) {
        text += " (encodes otherwise)";
    }
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        Decoded cut;
        if (SUCCEEDED(decode(std::span(bytes).first(length), &cut))) {
            return text + " (its first " + std::to_string(length) + " bytes decode)";
        }
    }
    return text;
}

inline std::string AsRequest(const Bytes& bytes) {
    message::Request r;
    const HRESULT hr = message::DecodeRequest(bytes, &r);
    if (FAILED(hr)) {
        return Status(hr);
    }
    std::string text = Named(static_cast<std::uint16_t>(r.command), r.sensorId);
    text += r.keys.empty() ? "" : Keys(r.keys);
    text += r.values.empty() ? "" : Values(r.values);
    return Checked(bytes, message::DecodeRequest, message::EncodeRequest(r), text);
}

inline std::string AsAnswer(const Bytes& bytes) {
    message::Answer a;
    const HRESULT hr = message::DecodeAnswer(bytes, &a);
    if (FAILED(hr)) {
        return Status(hr);
    }
    const message::CommandInfo* info = message::FindCommand(static_cast<std::uint16_t>(a.command));
    std::string text =
        (info != nullptr ? info->name : "#" + std::to_string(static_cast<int>(a.command))) +
        std::string(" ") + Status(a.status);
    if (a.status == message::kStatusBufferTooSmall) {
        return Checked(bytes, message::DecodeAnswer,
                       message::EncodeBufferTooSmall(a.command, a.neededBodyBytes),
                       text + " needs " + std::to_string(a.neededBodyBytes));
    }
    for (const message::ValueList& list : a.valueLists) {
        text += Values(list);
    }
    text += a.keys.empty() ? "" : Keys(a.keys);
    for (const GUID& guid : a.guids) {
        text += " " + zntr::client::EventName(guid);
    }
    text += a.values.empty() ? "" : Values(a.values);
    if (a.command == message::Command::kWaitForEvent && SUCCEEDED(a.status)) {
        text += " dropped " + std::to_string(a.event.droppedBefore) + " \"" +
                zntr::client::Utf8(a.event.sensorId) + "\" " +
                zntr::client::EventName(a.event.eventId) + Values(a.event.parameters);
    }
    return Checked(bytes, message::DecodeAnswer, message::EncodeAnswer(a), text);
}

}  // namespace zntr::test
