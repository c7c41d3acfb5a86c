// Sample sensor messages for the format's tests: a value of every type the format carries, and
// a request and an answer of every command.
#pragma once

#include <cstring>
#include <vector>

#include "sensor_message.h"
#include "standin/portabledevice.h"
#include "standin/sensors.h"

namespace zntr::test {

namespace message = zntr::sensor_message;

// One value of each alternative, with the awkward cases: text beyond the basic plane (a
// surrogate pair on the wire), empty text and bytes, extreme integers.
inline message::ValueList EveryKindOfValue() {
    return {
        {SENSOR_DATA_TYPE_LATITUDE_DEGREES, 47.376887},
        {SENSOR_DATA_TYPE_LONGITUDE_DEGREES, -122.000001},
        {SENSOR_DATA_TYPE_SPEED_KNOTS, 12.5f},
        {SENSOR_DATA_TYPE_FIX_QUALITY, std::int32_t{-2147483647 - 1}},
        {SENSOR_PROPERTY_STATE, std::uint32_t{0xFFFFFFFFu}},
        {SENSOR_PROPERTY_FRIENDLY_NAME, std::wstring(L"GPS caf\u00e9 \U0001F600")},
        {SENSOR_PROPERTY_MODEL, std::wstring()},
        {SENSOR_PROPERTY_TYPE, SENSOR_TYPE_LOCATION_GPS},
        {SENSOR_DATA_TYPE_TIMESTAMP, message::FileTime{133556256000000000ull}},
        {SENSOR_DATA_TYPE_SATELLITES_USED_PRNS, message::Bytes{5, 0, 0, 0, 17, 0, 0, 0}},
        {SENSOR_DATA_TYPE_SATELLITES_IN_VIEW_PRNS, message::Bytes{}},
        {SENSOR_DATA_TYPE_ERROR_RADIUS_METERS, message::ErrorCode{HRESULT_FROM_WIN32(1168)}},
        {SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS, std::monostate{}},
        {SENSOR_DATA_TYPE_GPS_STATUS, true},
        {SENSOR_DATA_TYPE_GPS_OPERATION_MODE, false},
    };
}

// A request of every command, each with a payload where its command takes one.
inline std::vector<message::Request> EveryRequest() {
    std::vector<message::Request> requests;
    for (const message::CommandInfo& info : message::kCommands) {
        message::Request request;
        request.command = info.command;
        request.sensorId = L"ZntrVComLocation";
        if (info.request == message::Payload::kKeys) {
            request.keys = {SENSOR_PROPERTY_STATE, WPD_OBJECT_ID, PROPERTYKEY{GUID_NULL, 0}};
        } else if (info.request == message::Payload::kValues) {
            request.values = EveryKindOfValue();
        }
        requests.push_back(request);
    }
    return requests;
}

// An answer of every command, each with a payload where its command gives one.
inline std::vector<message::Answer> EveryAnswer() {
    std::vector<message::Answer> answers;
    for (const message::CommandInfo& info : message::kCommands) {
        message::Answer answer;
        answer.command = info.command;
        answer.status = S_FALSE;
        switch (info.answer) {
            case message::Payload::kNone:
                break;
            case message::Payload::kKeys:
                answer.keys = {SENSOR_DATA_TYPE_TIMESTAMP, SENSOR_DATA_TYPE_LATITUDE_DEGREES};
                break;
            case message::Payload::kValues:
                answer.values = EveryKindOfValue();
                break;
            case message::Payload::kValueLists:
                answer.valueLists = {
                    EveryKindOfValue(), {}, {{WPD_OBJECT_ID, std::wstring(L"second")}}};
                break;
            case message::Payload::kGuids:
                answer.guids = {SENSOR_EVENT_DATA_UPDATED, SENSOR_EVENT_STATE_CHANGED};
                break;
            case message::Payload::kEvent:
                answer.event = {3, L"ZntrVComLocation", SENSOR_EVENT_DATA_UPDATED,
                                EveryKindOfValue()};
                break;
        }
        answers.push_back(answer);
    }
    return answers;
}

// Little-endian edits of a message's fields, for making broken messages.
inline void PutU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    PutU16(bytes, at, static_cast<std::uint16_t>(value));
    PutU16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}
inline void AppendU16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}
inline void AppendU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    AppendU16(bytes, static_cast<std::uint16_t>(value));
    AppendU16(bytes, static_cast<std::uint16_t>(value >> 16));
}
// Sets the header's body length to what follows it (when there is a whole header).
inline void FixBodyLength(std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < message::kHeaderBytes) {
        return;
    }
    PutU32(bytes, 12, static_cast<std::uint32_t>(bytes.size() - message::kHeaderBytes));
}

}  // namespace zntr::test
