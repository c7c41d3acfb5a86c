// The line sink (ProcessNMEALine) fed a sequence of lines, "Dummy" among them, against a fresh
// sensor per input: the offline sensor of `zntr decode` (created and initialised on an in-memory
// framework device, set in gpSensorDDI, with its data and state events handed over), with a
// client subscribed or none.
//
// Input: the first byte says whether a client is subscribed (its low bit); the rest are lines
// separated by a backslash and any other character (a doubled backslash stands for one). A line
// that is exactly "Dummy" is the receive loop's proprietary-sentence pass.
//
// Beyond not crashing or leaking, it checks after every line:
// - the sensor state is one the sink uses (ready, no data, initialising);
// - ready means a position was signalled: the last latitude and longitude are set;
// - initialising means the position was lost and the last one signalled forgotten;
// - without a subscriber neither event is ever set;
// - every data field the sensor holds has the one type its catalogue entry gives it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "offline_sensor.h"
#include "standin/com_helpers.h"
#include "standin/control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "critical_section_lock.h"
#include "debug_log.h"
#include "nmea_line_sink.h"
#include "nmea_parser.h"
#include "sensor_ddi.h"

namespace {

// 2024-03-23 12:00 UTC: the date that sentence times are stamped with, fixed so that a run does
// not depend on the clock.
constexpr std::uint64_t kFixedNow = 133556688000000000ull;

constexpr std::size_t kLongestLine = 1100;

// The type each data field is written with.
VARTYPE TypeOfDataField(REFPROPERTYKEY key) {
    if (IsEqualPropertyKey(key, SENSOR_DATA_TYPE_LATITUDE_DEGREES) ||
        IsEqualPropertyKey(key, SENSOR_DATA_TYPE_LONGITUDE_DEGREES) ||
        IsEqualPropertyKey(key, SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS) ||
        IsEqualPropertyKey(key, SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS) ||
        IsEqualPropertyKey(key, SENSOR_DATA_TYPE_ERROR_RADIUS_METERS)) {
        return VT_R8;
    }
    if (IsEqualPropertyKey(key, SENSOR_DATA_TYPE_SATELLITES_USED_COUNT) ||
        IsEqualPropertyKey(key, SENSOR_DATA_TYPE_FIX_QUALITY) ||
        IsEqualPropertyKey(key, SENSOR_DATA_TYPE_FIX_TYPE)) {
        return VT_I4;
    }
    if (IsEqualPropertyKey(key, SENSOR_DATA_TYPE_TIMESTAMP)) {
        return VT_FILETIME;
    }
    if (IsEqualPropertyKey(key, SENSOR_DATA_TYPE_SATELLITES_USED_PRNS)) {
        return VT_VECTOR | VT_UI1;
    }
    return VT_R4;  // dilutions of precision, speed and headings
}

void CheckDataFields(cSensorDDI& sensor) {
    cCriticalSectionLock lock(sensor.mSensorLock);
    DWORD count = 0;
    FUZZ_CHECK(SUCCEEDED(sensor.mpSensorDataFields->GetCount(&count)), "data fields counted");
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        zntr::platform::PropVariant value;
        FUZZ_CHECK(SUCCEEDED(sensor.mpSensorDataFields->GetAt(i, &key, &value)), "data field read");
        FUZZ_CHECK(value.vt == VT_EMPTY || value.vt == TypeOfDataField(key),
                   "a data field has its catalogue type");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool once = [] {
        zntr::fuzz::DropDebugOutput();
        zntr::platform::SetSystemTimeOverride(kFixedNow);
        gEnableLog = 1;
        return true;
    }();
    (void)once;

    FuzzedDataProvider provider(data, size);
    const bool subscribed = (provider.ConsumeIntegral<std::uint8_t>() & 1) != 0;
    zntr::tools::OfflineSensor offline;
    FUZZ_CHECK(offline.Start({L"ROOT\\ZNTR\\0000", {}, subscribed}) == S_OK, "sensor started");
    cSensorDDI& sensor = offline.Sensor();

    while (provider.remaining_bytes() > 0) {
        const std::string line = provider.ConsumeRandomLengthString(kLongestLine);
        ProcessNMEALine(line.c_str());

        const ULONG state = sensor.mSensorState;
        FUZZ_CHECK(state == SENSOR_STATE_READY || state == SENSOR_STATE_NO_DATA ||
                       state == SENSOR_STATE_INITIALIZING,
                   "a state the sink uses");
        if (state == SENSOR_STATE_READY) {
            FUZZ_CHECK(
                sensor.mLastLatitude != NO_DOUBLE_VALUE && sensor.mLastLongitude != NO_DOUBLE_VALUE,
                "ready with a signalled position");
        }
        if (state == SENSOR_STATE_INITIALIZING) {
            FUZZ_CHECK(sensor.mLastLatitude == NO_DOUBLE_VALUE &&
                           sensor.mLastLongitude == NO_DOUBLE_VALUE &&
                           sensor.mLastErrorRadius == NO_DOUBLE_VALUE,
                       "initialising after the position was lost, and it was forgotten");
        }
        if (!subscribed) {
            FUZZ_CHECK(!offline.DataEventSet() && !offline.StateEventSet(),
                       "no event without a subscriber");
        }
        CheckDataFields(sensor);
    }
    return 0;
}
