#include "sensor_key_names.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <type_traits>

#include "standin/portabledevice.h"
#include "standin/sensors.h"

namespace zntr::client {
namespace {

namespace message = zntr::sensor_message;

struct KeyEntry {
    PROPERTYKEY key;
    const char* name;
};
struct GuidEntry {
    GUID guid;
    const char* name;
};

#define ZNTR_NAMED(item) \
    { item, #item }

// Every key the sensor headers publish, and the Portable Devices keys a sensor object carries.
// Not constexpr: the Windows SDK defines the keys as objects of a library, not as constants.
const KeyEntry kKeyNames[] = {
    ZNTR_NAMED(WPD_OBJECT_ID),
    ZNTR_NAMED(WPD_OBJECT_NAME),
    ZNTR_NAMED(WPD_OBJECT_PERSISTENT_UNIQUE_ID),
    ZNTR_NAMED(WPD_OBJECT_CONTENT_TYPE),
    ZNTR_NAMED(WPD_FUNCTIONAL_OBJECT_CATEGORY),
    ZNTR_NAMED(SENSOR_EVENT_PARAMETER_EVENT_ID),
    ZNTR_NAMED(SENSOR_EVENT_PARAMETER_STATE),
    ZNTR_NAMED(SENSOR_PROPERTY_TYPE),
    ZNTR_NAMED(SENSOR_PROPERTY_STATE),
    ZNTR_NAMED(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID),
    ZNTR_NAMED(SENSOR_PROPERTY_MANUFACTURER),
    ZNTR_NAMED(SENSOR_PROPERTY_MODEL),
    ZNTR_NAMED(SENSOR_PROPERTY_SERIAL_NUMBER),
    ZNTR_NAMED(SENSOR_PROPERTY_FRIENDLY_NAME),
    ZNTR_NAMED(SENSOR_PROPERTY_DESCRIPTION),
    ZNTR_NAMED(SENSOR_PROPERTY_CONNECTION_TYPE),
    ZNTR_NAMED(SENSOR_PROPERTY_MIN_REPORT_INTERVAL),
    ZNTR_NAMED(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL),
    ZNTR_NAMED(SENSOR_PROPERTY_CHANGE_SENSITIVITY),
    ZNTR_NAMED(SENSOR_PROPERTY_DEVICE_PATH),
    ZNTR_NAMED(SENSOR_PROPERTY_ACCURACY),
    ZNTR_NAMED(SENSOR_PROPERTY_RESOLUTION),
    ZNTR_NAMED(SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY),
    ZNTR_NAMED(SENSOR_PROPERTY_RANGE_MINIMUM),
    ZNTR_NAMED(SENSOR_PROPERTY_RANGE_MAXIMUM),
    ZNTR_NAMED(SENSOR_DATA_TYPE_TIMESTAMP),
    ZNTR_NAMED(SENSOR_DATA_TYPE_LATITUDE_DEGREES),
    ZNTR_NAMED(SENSOR_DATA_TYPE_LONGITUDE_DEGREES),
    ZNTR_NAMED(SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_SPEED_KNOTS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES),
    ZNTR_NAMED(SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES),
    ZNTR_NAMED(SENSOR_DATA_TYPE_MAGNETIC_VARIATION),
    ZNTR_NAMED(SENSOR_DATA_TYPE_FIX_QUALITY),
    ZNTR_NAMED(SENSOR_DATA_TYPE_FIX_TYPE),
    ZNTR_NAMED(SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION),
    ZNTR_NAMED(SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION),
    ZNTR_NAMED(SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION),
    ZNTR_NAMED(SENSOR_DATA_TYPE_SATELLITES_USED_COUNT),
    ZNTR_NAMED(SENSOR_DATA_TYPE_SATELLITES_USED_PRNS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_SATELLITES_IN_VIEW),
    ZNTR_NAMED(SENSOR_DATA_TYPE_SATELLITES_IN_VIEW_PRNS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_SATELLITES_IN_VIEW_ELEVATION),
    ZNTR_NAMED(SENSOR_DATA_TYPE_SATELLITES_IN_VIEW_AZIMUTH),
    ZNTR_NAMED(SENSOR_DATA_TYPE_SATELLITES_IN_VIEW_STN_RATIO),
    ZNTR_NAMED(SENSOR_DATA_TYPE_ERROR_RADIUS_METERS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_ADDRESS1),
    ZNTR_NAMED(SENSOR_DATA_TYPE_ADDRESS2),
    ZNTR_NAMED(SENSOR_DATA_TYPE_CITY),
    ZNTR_NAMED(SENSOR_DATA_TYPE_STATE_PROVINCE),
    ZNTR_NAMED(SENSOR_DATA_TYPE_POSTALCODE),
    ZNTR_NAMED(SENSOR_DATA_TYPE_COUNTRY_REGION),
    ZNTR_NAMED(SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_ERROR_METERS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_ERROR_METERS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_GPS_SELECTION_MODE),
    ZNTR_NAMED(SENSOR_DATA_TYPE_GPS_OPERATION_MODE),
    ZNTR_NAMED(SENSOR_DATA_TYPE_GPS_STATUS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_GEOIDAL_SEPARATION),
    ZNTR_NAMED(SENSOR_DATA_TYPE_DGPS_DATA_AGE),
    ZNTR_NAMED(SENSOR_DATA_TYPE_ALTITUDE_ANTENNA_SEALEVEL_METERS),
    ZNTR_NAMED(SENSOR_DATA_TYPE_DIFFERENTIAL_REFERENCE_STATION_ID),
    ZNTR_NAMED(SENSOR_DATA_TYPE_NMEA_SENTENCE),
};

// Events, sensor categories and types, and the content type of a sensor object.
const GuidEntry kGuidNames[] = {
    ZNTR_NAMED(SENSOR_EVENT_DATA_UPDATED),     ZNTR_NAMED(SENSOR_EVENT_STATE_CHANGED),
    ZNTR_NAMED(SENSOR_EVENT_PROPERTY_CHANGED), ZNTR_NAMED(SENSOR_CATEGORY_ALL),
    ZNTR_NAMED(SENSOR_CATEGORY_LOCATION),      ZNTR_NAMED(SENSOR_TYPE_LOCATION_GPS),
    ZNTR_NAMED(SENSOR_TYPE_UNKNOWN),           ZNTR_NAMED(WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT),
};

constexpr const char* kStateNames[] = {
    "SENSOR_STATE_READY",        "SENSOR_STATE_NOT_AVAILABLE", "SENSOR_STATE_NO_DATA",
    "SENSOR_STATE_INITIALIZING", "SENSOR_STATE_ACCESS_DENIED", "SENSOR_STATE_ERROR",
};

#undef ZNTR_NAMED

const char* GuidName(const GUID& guid) {
    for (const GuidEntry& entry : kGuidNames) {
        if (IsEqualGUID(entry.guid, guid)) {
            return entry.name;
        }
    }
    return nullptr;
}

template <typename Number>
std::string ShortestText(Number number) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof(text), number);
    return std::string(text, result.ptr);
}

// 100-nanosecond ticks since 1601-01-01 as "2024-03-23T12:00:00.000Z".
std::string FileTimeText(std::uint64_t ticks) {
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
    const std::time_t seconds = static_cast<std::time_t>(
        static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970);
    std::tm utc{};
#if defined(_WIN32)
    const bool converted = gmtime_s(&utc, &seconds) == 0;
#else
    const bool converted = gmtime_r(&seconds, &utc) != nullptr;
#endif
    if (!converted) {
        return std::to_string(ticks);
    }
    char text[48];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03uZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<unsigned>((ticks % kTicksPerSecond) / 10000));
    return text;
}

}  // namespace

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string KeyName(const PROPERTYKEY& key) {
    for (const KeyEntry& entry : kKeyNames) {
        if (IsEqualPropertyKey(entry.key, key)) {
            return entry.name;
        }
    }
    return GuidText(key.fmtid) + "," + std::to_string(key.pid);
}

std::string EventName(const GUID& eventId) {
    const char* name = GuidName(eventId);
    return name != nullptr ? name : GuidText(eventId);
}

std::string SensorStateName(std::uint32_t state) {
    return state < std::size(kStateNames) ? kStateNames[state] : std::to_string(state);
}

std::string Utf8(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text) {
        auto point = static_cast<std::uint32_t>(c);
        if (point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            point = 0xFFFD;
        }
        if (point < 0x80) {
            out.push_back(static_cast<char>(point));
        } else if (point < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (point >> 6)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else if (point < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (point >> 12)));
            out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (point >> 18)));
            out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        }
    }
    return out;
}

std::string FormatValue(const message::Value& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return "(empty)";
            } else if constexpr (std::is_same_v<T, double> || std::is_same_v<T, float>) {
                return ShortestText(v);
            } else if constexpr (std::is_same_v<T, std::int32_t> ||
                                 std::is_same_v<T, std::uint32_t>) {
                return std::to_string(v);
            } else if constexpr (std::is_same_v<T, std::wstring>) {
                return Utf8(v);
            } else if constexpr (std::is_same_v<T, GUID>) {
                const char* name = GuidName(v);
                return name != nullptr ? GuidText(v) + " " + name : GuidText(v);
            } else if constexpr (std::is_same_v<T, message::FileTime>) {
                return FileTimeText(v.ticks);
            } else if constexpr (std::is_same_v<T, message::Bytes>) {
                std::string text;
                char digits[3];
                for (const std::uint8_t byte : v) {
                    std::snprintf(digits, sizeof(digits), "%02x", byte);
                    text += digits;
                }
                return text.empty() ? "(no bytes)" : text;
            } else if constexpr (std::is_same_v<T, message::ErrorCode>) {
                return "error " + message::DescribeStatus(v.code);
            } else {
                return v ? "true" : "false";
            }
        },
        value);
}

}  // namespace zntr::client
