// The reading update: the six updaters that write fresh fix-record values into the data fields,
// and the state machine of SetSensorPQXFIData.
//
// Every value is passed in a stack PROPVARIANT (a number in a plain one: it holds nothing to
// free) and written with one SetDataFieldValue, which takes mSensorLock for that one write; a
// failed write is ignored and the next one still happens. The parser's mLock is never held here:
// the caller copied the values out under it and left it.
#include <cfloat>
#include <cmath>
#include <utility>

#include "critical_section_lock.h"
#include "debug_log.h"
#include "prop_variant.h"
#include "sensor_ddi.h"
#include "utc_time.h"

namespace {

// At most this many PRNs of a GSA sentence are reported.
constexpr size_t kMaxSatellitePRNs = 64;

// The 32-bit float nearest the value (ties to even), with the conversion instruction's overflow:
// from FLT_MAX plus half its last step on, infinity. Written out for the out-of-range values,
// whose conversion C++ leaves undefined.
FLOAT ToNearestFloat(double value) {
    constexpr double kOverflowThreshold = 0x1.ffffffp127;
    if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
        const FLOAT magnitude = std::fabs(value) >= kOverflowThreshold ? HUGE_VALF : FLT_MAX;
        return value > 0 ? magnitude : -magnitude;
    }
    return static_cast<FLOAT>(value);
}

// The low 32 bits of the value truncated toward zero, computed exactly (two's complement for a
// negative value). A value with no integer part to take (infinite or not a number) gives 0, as
// the conversion instruction's "integer indefinite" result has no low bits set.
ULONG LowBitsOfTruncated(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    constexpr double kTwoTo32 = 4294967296.0;
    double low = std::fmod(std::trunc(value), kTwoTo32);
    if (low < 0) {
        low += kTwoTo32;
    }
    return static_cast<ULONG>(low);
}

// A value that owns nothing to free (a number, or an array it only lends) needs no clearing: a
// plain PROPVARIANT.
PROPVARIANT PlainField(VARTYPE type) {
    PROPVARIANT field;
    PropVariantInit(&field);
    field.vt = type;
    return field;
}

}  // namespace

void cSensorDDI::SetDoubleDataField(REFPROPERTYKEY key, double value) {
    if (value == NO_DOUBLE_VALUE) {
        return;
    }
    PROPVARIANT field = PlainField(VT_R8);
    field.dblVal = value;
    SetDataFieldValue(key, &field);
}

// Dilutions of precision, speed and headings are 32-bit floats.
void cSensorDDI::SetFloatDataField(REFPROPERTYKEY key, double value) {
    if (value == NO_DOUBLE_VALUE) {
        return;
    }
    PROPVARIANT field = PlainField(VT_R4);
    field.fltVal = ToNearestFloat(value);
    SetDataFieldValue(key, &field);
}

void cSensorDDI::SetIntegerDataField(REFPROPERTYKEY key, INT value) {
    if (value == NO_INT_VALUE) {
        return;
    }
    PROPVARIANT field = PlainField(VT_I4);
    field.lVal = value;
    SetDataFieldValue(key, &field);
}

// A time of day that is no valid clock time gives the FILETIME 0, which is written all the same.
void cSensorDDI::SetTimestampDataField(double utcTime) {
    if (utcTime == NO_DOUBLE_VALUE) {
        return;
    }
    const ULONGLONG ticks = UTCTimeToFileTime(utcTime);
    const FILETIME fileTime = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    cPropVariant field;
    if (SUCCEEDED(InitPropVariantFromFileTime(&fileTime, &field))) {
        SetDataFieldValue(SENSOR_DATA_TYPE_TIMESTAMP, &field);
    }
}

void cSensorDDI::ChangeSensorState(SensorState state) {
    cPropVariant property;
    property.vt = VT_UI4;
    property.ulVal = state;
    SetPropertyValue(SENSOR_PROPERTY_STATE, &property);
    SetSensorState(state);
}

// The ellipsoid altitude is the geoid separation itself, not altitude plus separation.
void cSensorDDI::SetSensorGGAData(double latitude, double longitude, double altitude,
                                  INT fixQuality, INT satellitesUsed, double utcTime, double hdop,
                                  double geoidSeparation) {
    SetDoubleDataField(SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS, geoidSeparation);
    SetDoubleDataField(SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS, altitude);
    SetFloatDataField(SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION, hdop);
    SetDoubleDataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES, latitude);
    SetDoubleDataField(SENSOR_DATA_TYPE_LONGITUDE_DEGREES, longitude);
    SetIntegerDataField(SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, satellitesUsed);
    SetIntegerDataField(SENSOR_DATA_TYPE_FIX_QUALITY, fixQuality);
    SetTimestampDataField(utcTime);
}

void cSensorDDI::SetSensorVTGData(double trueCourse, double speedKnots, double magneticCourse) {
    SetFloatDataField(SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES, magneticCourse);
    SetFloatDataField(SENSOR_DATA_TYPE_SPEED_KNOTS, speedKnots);
    SetFloatDataField(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES, trueCourse);
}

// RMC's magnetic variation is not reported.
void cSensorDDI::SetSensorRMCData(double latitude, double longitude, double trueCourse,
                                  double speedKnots, double utcTime) {
    SetDoubleDataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES, latitude);
    SetDoubleDataField(SENSOR_DATA_TYPE_LONGITUDE_DEGREES, longitude);
    SetFloatDataField(SENSOR_DATA_TYPE_SPEED_KNOTS, speedKnots);
    SetFloatDataField(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES, trueCourse);
    SetTimestampDataField(utcTime);
}

void cSensorDDI::SetSensorGLLData(double latitude, double longitude, double utcTime) {
    SetDoubleDataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES, latitude);
    SetDoubleDataField(SENSOR_DATA_TYPE_LONGITUDE_DEGREES, longitude);
    SetTimestampDataField(utcTime);
}

// The satellites-used count is written for every GSA sentence, also when it lists no PRN; the
// PRN vector only when the sentence's list had an entry.
void cSensorDDI::SetSensorGSAData(double hdop, INT fixMode, double pdop, double vdop,
                                  std::vector<double>& satellitePRNs) {
    SetIntegerDataField(SENSOR_DATA_TYPE_FIX_TYPE, fixMode);
    SetFloatDataField(SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION, hdop);
    SetFloatDataField(SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION, pdop);

    ULONG prns[kMaxSatellitePRNs];
    ULONG count = 0;
    const size_t considered = std::min(satellitePRNs.size(), kMaxSatellitePRNs);
    for (size_t i = 0; i < considered; ++i) {
        if (satellitePRNs[i] != NO_DOUBLE_VALUE) {
            prns[count++] = LowBitsOfTruncated(satellitePRNs[i]);
        }
    }
    SetIntegerDataField(SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, static_cast<INT>(count));
    if (!satellitePRNs.empty()) {
        // Four bytes per PRN in machine (little-endian) order. The value only lends the array on
        // the stack: the collection stores a copy, and nothing here is freed.
        PROPVARIANT field = PlainField(VT_VECTOR | VT_UI1);
        field.caub.cElems = static_cast<ULONG>(count * sizeof(ULONG));
        field.caub.pElems = reinterpret_cast<UCHAR*>(prns);
        SetDataFieldValue(SENSOR_DATA_TYPE_SATELLITES_USED_PRNS, &field);
    }
    SetFloatDataField(SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION, vdop);
    // The list, taken over from the caller, is emptied as the update returns.
    satellitePRNs.clear();
}

// Besides the data fields, this update decides the state: a position makes a sensor with no data
// or one that is initialising ready; the loss of the position makes a ready sensor initialise
// again and forgets the last position. A position that moved signals a data event.
void cSensorDDI::SetSensorPQXFIData(double latitude, double longitude, double altitude,
                                    double utcTime, double errorRadius) {
    DebugLog("cSensorDDI::SetSensorPQXFIData\n");
    SetDoubleDataField(SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS, altitude);
    SetDoubleDataField(SENSOR_DATA_TYPE_ERROR_RADIUS_METERS, errorRadius);
    SetDoubleDataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES, latitude);
    SetDoubleDataField(SENSOR_DATA_TYPE_LONGITUDE_DEGREES, longitude);
    SetTimestampDataField(utcTime);

    const bool moved = !(latitude == mLastLatitude && longitude == mLastLongitude);
    const ULONG state = mSensorState;

    if (latitude == NO_DOUBLE_VALUE || longitude == NO_DOUBLE_VALUE) {
        if (state == SENSOR_STATE_READY) {
            ChangeSensorState(SENSOR_STATE_INITIALIZING);
            mLastLatitude = NO_DOUBLE_VALUE;
            mLastLongitude = NO_DOUBLE_VALUE;
            mLastErrorRadius = NO_DOUBLE_VALUE;
        }
        return;
    }
    if (state == SENSOR_STATE_NO_DATA || state == SENSOR_STATE_INITIALIZING) {
        ChangeSensorState(SENSOR_STATE_READY);
    }
    if (!moved) {
        return;
    }
    {
        cCriticalSectionLock lock(mSensorLock);
        if (mSubscriberCount != 0 && mhDataEvent != nullptr) {
            SetEvent(mhDataEvent);
        }
    }
    // Kept also when nobody was subscribed: the first event after a subscription then comes only
    // when the position moves.
    mLastLatitude = latitude;
    mLastLongitude = longitude;
    mLastErrorRadius = errorRadius;
}
