// The sensor's catalogue: the property keys and the data-field keys it supports, in the order
// the supported-key collections hold them. Each entry carries the key's published name, for the
// tools that show the sensor's values.
#pragma once

#include "driver_platform.h"

struct cCatalogueEntry {
    PROPERTYKEY mKey;
    const char* mName;
};

#define SENSOR_CATALOGUE_ENTRY(key) \
    cCatalogueEntry {               \
        key, #key                   \
    }

// The tables are const, not constexpr: the SDK declares the keys as extern constants (defined in
// one module of the program), which are no constant expressions.

// Properties; SetLBSDefaultPropertyValues and SetUniqueID give them their values.
const cCatalogueEntry kSensorPropertyCatalogue[] = {
    SENSOR_CATALOGUE_ENTRY(SENSOR_PROPERTY_FRIENDLY_NAME),              // VT_LPWSTR
    SENSOR_CATALOGUE_ENTRY(SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY),  // VT_UI4
    SENSOR_CATALOGUE_ENTRY(SENSOR_PROPERTY_MANUFACTURER),               // VT_LPWSTR
    SENSOR_CATALOGUE_ENTRY(SENSOR_PROPERTY_SERIAL_NUMBER),              // VT_LPWSTR
    SENSOR_CATALOGUE_ENTRY(SENSOR_PROPERTY_MIN_REPORT_INTERVAL),        // VT_UI4
    SENSOR_CATALOGUE_ENTRY(SENSOR_PROPERTY_MODEL),                      // VT_LPWSTR
    SENSOR_CATALOGUE_ENTRY(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID),       // VT_CLSID
    SENSOR_CATALOGUE_ENTRY(SENSOR_PROPERTY_STATE),                      // VT_UI4
    SENSOR_CATALOGUE_ENTRY(SENSOR_PROPERTY_TYPE),                       // VT_CLSID
    SENSOR_CATALOGUE_ENTRY(WPD_FUNCTIONAL_OBJECT_CATEGORY),             // VT_CLSID
    SENSOR_CATALOGUE_ENTRY(WPD_OBJECT_ID),                              // VT_LPWSTR
};

// Data fields, each VT_EMPTY until the reading update writes it with the type noted.
const cCatalogueEntry kSensorDataFieldCatalogue[] = {
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_TIMESTAMP),                        // VT_FILETIME
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS),        // VT_R8
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS),         // VT_R8
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_ERROR_RADIUS_METERS),              // VT_R8
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_FIX_QUALITY),                      // VT_I4
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_FIX_TYPE),                         // VT_I4
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION),  // VT_R4
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_LATITUDE_DEGREES),                 // VT_R8
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_LONGITUDE_DEGREES),                // VT_R8
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES),         // VT_R4
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION),   // VT_R4
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_SATELLITES_USED_COUNT),            // VT_I4
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_SATELLITES_USED_PRNS),             // VT_VECTOR | VT_UI1
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_SPEED_KNOTS),                      // VT_R4
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES),             // VT_R4
    SENSOR_CATALOGUE_ENTRY(SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION),   // VT_R4
};

#undef SENSOR_CATALOGUE_ENTRY
