// Keys, events and values as text, for the programs that show them or take them as arguments.
#include <gtest/gtest.h>

#include "sensor_key_names.h"
#include "standin/portabledevice.h"
#include "standin/sensors.h"

namespace zntr::test {
namespace {

namespace message = zntr::sensor_message;
using namespace zntr::client;

TEST(SensorKeyNamesTest, NamesKnownKeysAndReadsNamesBack) {
    const PROPERTYKEY keys[] = {WPD_OBJECT_ID, SENSOR_PROPERTY_STATE,
                                SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION,
                                SENSOR_DATA_TYPE_TIMESTAMP, SENSOR_EVENT_PARAMETER_STATE};
    for (const PROPERTYKEY& key : keys) {
        const std::string name = KeyName(key);
        SCOPED_TRACE(name);
        EXPECT_EQ(name.find('{'), std::string::npos);
        const std::optional<PROPERTYKEY> back = KeyFromName(name);
        ASSERT_TRUE(back.has_value());
        EXPECT_TRUE(IsEqualPropertyKey(*back, key));
    }
    EXPECT_EQ(KeyName(SENSOR_DATA_TYPE_LATITUDE_DEGREES), "SENSOR_DATA_TYPE_LATITUDE_DEGREES");
}

TEST(SensorKeyNamesTest, WritesUnknownKeysAsGuidAndIdAndReadsThemBack) {
    const PROPERTYKEY unknown = {SENSOR_PROPERTY_COMMON_GUID, 99};
    EXPECT_EQ(KeyName(unknown), "{7F8383EC-D3EC-495C-A8CF-B8BBE85C2920},99");
    const std::optional<PROPERTYKEY> back =
        KeyFromName("{7f8383ec-d3ec-495c-a8cf-b8bbe85c2920},99");
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(IsEqualPropertyKey(*back, unknown));

    const char* refused[] = {
        "SENSOR_DATA_TYPE_LATITUDE",                  // no such name
        "{7F8383EC-D3EC-495C-A8CF-B8BBE85C2920}",     // no property id
        "{7F8383EC-D3EC-495C-A8CF-B8BBE85C2920},",    // an empty one
        "{7F8383EC-D3EC-495C-A8CF-B8BBE85C2920},9x",  // not a number
        "{7F8383EC-D3EC-495C-A8CF-B8BBE85C292},9",    // a GUID one digit short
        "{7F8383EC+D3EC-495C-A8CF-B8BBE85C2920},9",   // a wrong separator
        "{7F8383EC-D3EC-495C-A8CF-B8BBE85C29G0},9",   // not a hex digit
    };
    for (const char* name : refused) {
        EXPECT_FALSE(KeyFromName(name).has_value()) << name;
    }
}

TEST(SensorKeyNamesTest, NamesEventsAndStates) {
    EXPECT_EQ(EventName(SENSOR_EVENT_DATA_UPDATED), "SENSOR_EVENT_DATA_UPDATED");
    EXPECT_EQ(EventName(SENSOR_EVENT_STATE_CHANGED), "SENSOR_EVENT_STATE_CHANGED");
    EXPECT_EQ(EventName(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(SensorStateName(SENSOR_STATE_READY), "SENSOR_STATE_READY");
    EXPECT_EQ(SensorStateName(SENSOR_STATE_INITIALIZING), "SENSOR_STATE_INITIALIZING");
    EXPECT_EQ(SensorStateName(9), "9");
}

TEST(SensorKeyNamesTest, FormatsEveryKindOfValue) {
    struct Case {
        const char* legend;
        message::Value value;
        std::string text;
    };
    const Case cases[] = {
        {"empty", std::monostate{}, "(empty)"},
        {"a double, shortest form", 47.376887, "47.376887"},
        {"a float, shortest form", 12.1f, "12.1"},
        {"a signed integer", std::int32_t{-3}, "-3"},
        {"an unsigned integer", std::uint32_t{4000000000u}, "4000000000"},
        {"text as UTF-8", std::wstring(L"caf\u00e9"), "caf\xc3\xa9"},
        {"a GUID with its name", SENSOR_TYPE_LOCATION_GPS,
         "{ED4CA589-327A-4FF9-A560-91DA4B48275E} SENSOR_TYPE_LOCATION_GPS"},
        {"a FILETIME in UTC", message::FileTime{133556256000000000ull + 1234567},
         "2024-03-23T00:00:00.123Z"},
        {"bytes in hex", message::Bytes{0x05, 0xAB}, "05ab"},
        {"no bytes", message::Bytes{}, "(no bytes)"},
        {"an error code", message::ErrorCode{HRESULT_FROM_WIN32(ERROR_NOT_FOUND)},
         "error ERROR_NOT_FOUND (0x80070490): no such sensor or key"},
        {"a boolean", true, "true"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatValue(c.value), c.text) << c.legend;
    }
}

}  // namespace
}  // namespace zntr::test
