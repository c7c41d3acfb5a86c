#include "event_json.h"

#include <cctype>
#include <string_view>
#include <type_traits>
#include <variant>

#include "device_error.h"
#include "sensor_key_names.h"
#include "standin/sensors.h"

namespace zntr::tools {
namespace {

constexpr std::string_view kKeyPrefixes[] = {"SENSOR_DATA_TYPE_", "SENSOR_PROPERTY_", "WPD_"};

bool IsEventParameter(const PROPERTYKEY& key) {
    return IsEqualPropertyKey(key, SENSOR_EVENT_PARAMETER_EVENT_ID) ||
           IsEqualPropertyKey(key, SENSOR_EVENT_PARAMETER_STATE);
}

}  // namespace

std::string JsonKeyName(const PROPERTYKEY& key) {
    std::string name = client::KeyName(key);
    if (name.starts_with('{')) {
        return name;
    }
    for (const std::string_view prefix : kKeyPrefixes) {
        if (name.starts_with(prefix)) {
            name.erase(0, prefix.size());
            break;
        }
    }
    for (char& c : name) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name;
}

nlohmann::ordered_json JsonValue(const PROPERTYKEY& key, const Value& value) {
    if (const auto* bytes = std::get_if<sensor_message::Bytes>(&value);
        bytes != nullptr && IsEqualPropertyKey(key, SENSOR_DATA_TYPE_SATELLITES_USED_PRNS)) {
        return PrnsOf(*bytes);
    }
    return std::visit(
        [&value](const auto& v) -> nlohmann::ordered_json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return nullptr;
            } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::int32_t> ||
                                 std::is_same_v<T, std::uint32_t>) {
                return v;
            } else if constexpr (std::is_same_v<T, double> || std::is_same_v<T, float>) {
                return *NumberOf(value);
            } else if constexpr (std::is_same_v<T, GUID>) {
                return client::GuidText(v);
            } else if constexpr (std::is_same_v<T, sensor_message::FileTime>) {
                return IsoTime(v);
            } else if constexpr (std::is_same_v<T, sensor_message::ErrorCode>) {
                return {{"error", sensor_message::DescribeStatus(v.code)}};
            } else {
                // Text, and bytes in hex, as the client library writes them.
                return client::FormatValue(value);
            }
        },
        value);
}

nlohmann::ordered_json JsonValues(const ValueList& values) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const sensor_message::KeyedValue& entry : values) {
        if (!IsEventParameter(entry.key)) {
            object[JsonKeyName(entry.key)] = JsonValue(entry.key, entry.value);
        }
    }
    return object;
}

nlohmann::ordered_json JsonEvent(const client::SensorEvent& event,
                                 std::chrono::system_clock::time_point received) {
    using Kind = client::SensorEvent::Kind;
    nlohmann::ordered_json object;
    switch (event.kind) {
        case Kind::kDataUpdated:
            object["event"] = "data";
            break;
        case Kind::kStateChanged:
            object["event"] = "state";
            break;
        case Kind::kOther:
            object["event"] = "other";
            object["event_id"] = client::EventName(event.eventId);
            break;
        case Kind::kEnded:
            object["event"] = "ended";
            object["status"] = client::DescribeDeviceStatus(event.status);
            break;
    }
    object["received"] = IsoTime(received);
    if (event.droppedBefore != 0) {
        object["dropped_before"] = event.droppedBefore;
    }
    if (event.kind == Kind::kStateChanged) {
        if (event.state) {
            object["state"] = *event.state;
            object["state_name"] = ShortStateName(*event.state);
        } else {
            object["state"] = nullptr;
        }
    }
    if (event.kind == Kind::kDataUpdated || event.kind == Kind::kOther) {
        object.update(JsonValues(event.parameters));
    }
    return object;
}

}  // namespace zntr::tools
