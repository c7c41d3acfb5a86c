// The Sensor API's and the Portable Devices' identifiers and keys against the values the
// Windows headers publish, written here in their text form, so that a digit mistyped in the
// stand-in's headers shows.
#include <gtest/gtest.h>

#include <string>

#include "com_test_support.h"
#include "standin/portabledevice.h"
#include "standin/sensors.h"
#include "standin/sensorsclassextension.h"

namespace {

using zntr::test::GuidText;

TEST(SensorConstantsTest, IdentifiersHaveTheirPublishedValues) {
    struct Case {
        const char* name;
        GUID guid;
        const wchar_t* published;
    };
    const Case cases[] = {
        {"IID_ISensorDriver", IID_ISensorDriver, L"{D262B6BA-87CC-495D-B639-939EF853BD3B}"},
        {"IID_ISensorClassExtension", IID_ISensorClassExtension,
         L"{A31253BA-6F73-4BC9-ABAA-26C8833C58FF}"},
        {"CLSID_SensorClassExtension", CLSID_SensorClassExtension,
         L"{6101F767-998E-452B-B54A-E836DD486BAD}"},
        {"CLSID_PortableDeviceValues", CLSID_PortableDeviceValues,
         L"{0C15D503-D017-47CE-9016-7B3F978721CC}"},
        {"CLSID_PortableDeviceKeyCollection", CLSID_PortableDeviceKeyCollection,
         L"{DE2D022D-2480-43BE-97F0-D1FA2CF98F4F}"},
        {"CLSID_PortableDeviceValuesCollection", CLSID_PortableDeviceValuesCollection,
         L"{3882134D-14CF-4220-9CB4-435F86D83F60}"},
        {"IID_IPortableDeviceValues", IID_IPortableDeviceValues,
         L"{6848F6F2-3155-4F86-B6F5-263EEEAB3143}"},
        {"IID_IPortableDeviceKeyCollection", IID_IPortableDeviceKeyCollection,
         L"{DADA2357-E0AD-492E-98DB-DD61C53BA353}"},
        {"IID_IPortableDeviceValuesCollection", IID_IPortableDeviceValuesCollection,
         L"{6E3F2D79-4E07-48C4-8208-D8C2E5AF4A99}"},
        {"IID_IWDFDevice", IID_IWDFDevice, L"{D657FE45-460A-49C3-8219-766AE8032A80}"},
        {"IID_IWDFNamedPropertyStore", IID_IWDFNamedPropertyStore,
         L"{394B48C9-BCA0-498F-8E2C-01225464A932}"},
        {"IID_IWDFObject", IID_IWDFObject, L"{64275C66-2E71-4060-B5F4-3A76DF96ED3C}"},
        {"SENSOR_EVENT_DATA_UPDATED", SENSOR_EVENT_DATA_UPDATED,
         L"{2ED0F2A4-0087-41D3-87DB-6773370B3C88}"},
        {"SENSOR_EVENT_STATE_CHANGED", SENSOR_EVENT_STATE_CHANGED,
         L"{BFD96016-6BD7-4560-AD34-F2F6607E8F81}"},
        {"SENSOR_TYPE_LOCATION_GPS", SENSOR_TYPE_LOCATION_GPS,
         L"{ED4CA589-327A-4FF9-A560-91DA4B48275E}"},
        {"SENSOR_CATEGORY_LOCATION", SENSOR_CATEGORY_LOCATION,
         L"{BFA794E4-F964-4FDB-90F6-51056BFE4B44}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GuidText(c.guid), c.published) << c.name;
    }
}

TEST(SensorConstantsTest, KeysHaveTheirPublishedFormatsAndIds) {
    struct Case {
        const char* name;
        PROPERTYKEY key;
        const wchar_t* format;
        DWORD pid;
    };
    const wchar_t* const kProperty = L"{7F8383EC-D3EC-495C-A8CF-B8BBE85C2920}";
    const wchar_t* const kLocation = L"{055C74D8-CA6F-47D6-95C6-1ED3637A0FF4}";
    const Case cases[] = {
        {"SENSOR_PROPERTY_TYPE", SENSOR_PROPERTY_TYPE, kProperty, 2},
        {"SENSOR_PROPERTY_STATE", SENSOR_PROPERTY_STATE, kProperty, 3},
        {"SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID", SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, kProperty,
         5},
        {"SENSOR_PROPERTY_MANUFACTURER", SENSOR_PROPERTY_MANUFACTURER, kProperty, 6},
        {"SENSOR_PROPERTY_MODEL", SENSOR_PROPERTY_MODEL, kProperty, 7},
        {"SENSOR_PROPERTY_SERIAL_NUMBER", SENSOR_PROPERTY_SERIAL_NUMBER, kProperty, 8},
        {"SENSOR_PROPERTY_FRIENDLY_NAME", SENSOR_PROPERTY_FRIENDLY_NAME, kProperty, 9},
        {"SENSOR_PROPERTY_MIN_REPORT_INTERVAL", SENSOR_PROPERTY_MIN_REPORT_INTERVAL, kProperty, 12},
        {"SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY", SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY,
         kProperty, 19},
        {"SENSOR_DATA_TYPE_TIMESTAMP", SENSOR_DATA_TYPE_TIMESTAMP,
         L"{DB5E0CF2-CF1F-4C18-B46C-D86011D62150}", 2},
        {"SENSOR_DATA_TYPE_LATITUDE_DEGREES", SENSOR_DATA_TYPE_LATITUDE_DEGREES, kLocation, 2},
        {"SENSOR_DATA_TYPE_LONGITUDE_DEGREES", SENSOR_DATA_TYPE_LONGITUDE_DEGREES, kLocation, 3},
        {"SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS", SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS,
         kLocation, 4},
        {"SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS", SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS,
         kLocation, 5},
        {"SENSOR_DATA_TYPE_SPEED_KNOTS", SENSOR_DATA_TYPE_SPEED_KNOTS, kLocation, 6},
        {"SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES", SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES, kLocation,
         7},
        {"SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES", SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES,
         kLocation, 8},
        {"SENSOR_DATA_TYPE_FIX_QUALITY", SENSOR_DATA_TYPE_FIX_QUALITY, kLocation, 10},
        {"SENSOR_DATA_TYPE_FIX_TYPE", SENSOR_DATA_TYPE_FIX_TYPE, kLocation, 11},
        {"SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION",
         SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION, kLocation, 12},
        {"SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION",
         SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION, kLocation, 13},
        {"SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION",
         SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION, kLocation, 14},
        {"SENSOR_DATA_TYPE_SATELLITES_USED_COUNT", SENSOR_DATA_TYPE_SATELLITES_USED_COUNT,
         kLocation, 15},
        {"SENSOR_DATA_TYPE_SATELLITES_USED_PRNS", SENSOR_DATA_TYPE_SATELLITES_USED_PRNS, kLocation,
         16},
        {"SENSOR_DATA_TYPE_ERROR_RADIUS_METERS", SENSOR_DATA_TYPE_ERROR_RADIUS_METERS, kLocation,
         22},
        {"SENSOR_EVENT_PARAMETER_EVENT_ID", SENSOR_EVENT_PARAMETER_EVENT_ID,
         L"{64346E30-8728-4B34-BDF6-4F52442C5C28}", 2},
        {"WPD_OBJECT_ID", WPD_OBJECT_ID, L"{EF6B490D-5CD8-437A-AFFC-DA8B60EE4A3C}", 2},
        {"WPD_FUNCTIONAL_OBJECT_CATEGORY", WPD_FUNCTIONAL_OBJECT_CATEGORY,
         L"{8F052D93-ABCA-4FC5-A5AC-B01DF4DBE598}", 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GuidText(c.key.fmtid), c.format) << c.name;
        EXPECT_EQ(c.key.pid, c.pid) << c.name;
    }
}

}  // namespace
