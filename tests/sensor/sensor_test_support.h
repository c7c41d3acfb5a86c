// The sensor tests' world: the calling thread in COM, the debug log captured, a framework device
// whose named values live in memory, the one sensor in gpSensorDDI, and its data and state events
// as the device hands them over.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "critical_section_lock.h"
#include "debug_log.h"
#include "framework_device.h"
#include "nmea_line_sink.h"
#include "sensor_catalogue.h"
#include "sensor_ddi.h"
#include "standin/com_helpers.h"
#include "standin/control.h"

namespace zntr::test {

using Microsoft::WRL::ComPtr;
using zntr::platform::PropVariant;

// 2024-03-23 00:00 UTC as a FILETIME count: the date every timestamp of these tests carries.
constexpr ULONGLONG kTestDate = 133556256000000000ull;
constexpr ULONGLONG kTicksPerSecond = 10000000ull;

// "$" + body + "*" + the XOR of body's bytes as two upper-case hex digits + "\r\n", computed
// here, apart from the reader.
inline std::string Sentence(std::string_view body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char digits[3];
    std::snprintf(digits, sizeof(digits), "%02X", sum);
    return "$" + std::string(body) + "*" + digits + "\r\n";
}

// A PQXFI sentence at 12:00:00 with the given position text ("" for none).
inline std::string Pqxfi(std::string_view latitude, std::string_view longitude,
                         std::string_view altitude = "500.0", std::string_view radius = "3.5") {
    const std::string north = latitude.empty() ? "" : "N";
    const std::string east = longitude.empty() ? "" : "E";
    return Sentence("PQXFI,120000.0," + std::string(latitude) + "," + north + "," +
                    std::string(longitude) + "," + east + "," + std::string(altitude) + "," +
                    std::string(radius) + ",5.0,0.2");
}

// What a receive pass that got nothing sets to VT_R8 0.0, written out here apart from the loop;
// the other six data fields keep their values.
inline constexpr PROPERTYKEY kClearedWhenSilent[] = {
    SENSOR_DATA_TYPE_ERROR_RADIUS_METERS,
    SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS,
    SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS,
    SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION,
    SENSOR_DATA_TYPE_LATITUDE_DEGREES,
    SENSOR_DATA_TYPE_LONGITUDE_DEGREES,
    SENSOR_DATA_TYPE_SATELLITES_USED_COUNT,
    SENSOR_DATA_TYPE_FIX_QUALITY,
    SENSOR_DATA_TYPE_TIMESTAMP,
    SENSOR_DATA_TYPE_SPEED_KNOTS,
};

// The reference count an object reports, without changing it.
inline ULONG ReferenceCountOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// A PROPVARIANT's type and contents as a plain value that tests can compare and print.
struct Value {
    bool held = true;  // false: the collection has no such key
    VARTYPE vt = VT_EMPTY;
    double r8 = 0;
    float r4 = 0;
    LONG i4 = 0;
    ULONG ui4 = 0;
    ULONGLONG filetime = 0;
    std::vector<BYTE> bytes;
    std::wstring text;
    GUID guid = GUID_NULL;

    static Value Missing() {
        Value value;
        value.held = false;
        return value;
    }
    static Value Of(const PROPVARIANT& pv) {
        Value value;
        value.vt = pv.vt;
        switch (pv.vt) {
            case VT_R8:
                value.r8 = pv.dblVal;
                break;
            case VT_R4:
                value.r4 = pv.fltVal;
                break;
            case VT_I4:
                value.i4 = pv.lVal;
                break;
            case VT_UI4:
                value.ui4 = pv.ulVal;
                break;
            case VT_FILETIME:
                value.filetime = (static_cast<ULONGLONG>(pv.filetime.dwHighDateTime) << 32) |
                                 pv.filetime.dwLowDateTime;
                break;
            case VT_VECTOR | VT_UI1:
                value.bytes.assign(pv.caub.pElems, pv.caub.pElems + pv.caub.cElems);
                break;
            case VT_LPWSTR:
                value.text = pv.pwszVal != nullptr ? pv.pwszVal : L"";
                break;
            case VT_CLSID:
                value.guid = pv.puuid != nullptr ? *pv.puuid : GUID_NULL;
                break;
            default:
                break;
        }
        return value;
    }
    bool operator==(const Value& other) const {
        return held == other.held && vt == other.vt &&
               (r8 == other.r8 || (std::isnan(r8) && std::isnan(other.r8))) &&
               (r4 == other.r4 || (std::isnan(r4) && std::isnan(other.r4))) && i4 == other.i4 &&
               ui4 == other.ui4 && filetime == other.filetime && bytes == other.bytes &&
               text == other.text && IsEqualGUID(guid, other.guid);
    }
};

inline void PrintTo(const Value& value, std::ostream* out) {
    *out << (value.held ? "" : "(not held) ") << "vt " << value.vt << " r8 " << value.r8 << " r4 "
         << value.r4 << " i4 " << value.i4 << " ui4 " << value.ui4 << " filetime " << value.filetime
         << " bytes " << value.bytes.size();
}

inline Value R8(double v) {
    Value value;
    value.vt = VT_R8;
    value.r8 = v;
    return value;
}
inline Value R4(double v) {
    Value value;
    value.vt = VT_R4;
    value.r4 = static_cast<float>(v);
    return value;
}
inline Value I4(LONG v) {
    Value value;
    value.vt = VT_I4;
    value.i4 = v;
    return value;
}
inline Value UI4(ULONG v) {
    Value value;
    value.vt = VT_UI4;
    value.ui4 = v;
    return value;
}
inline Value Empty() {
    return Value();
}
// The timestamp of a time of day on the tests' date.
inline Value Stamp(int hours, int minutes, int seconds, int milliseconds = 0) {
    Value value;
    value.vt = VT_FILETIME;
    value.filetime =
        kTestDate +
        static_cast<ULONGLONG>((hours * 60 + minutes) * 60 + seconds) * kTicksPerSecond +
        static_cast<ULONGLONG>(milliseconds) * 10000ull;
    return value;
}
inline Value Bytes(std::vector<BYTE> bytes) {
    Value value;
    value.vt = VT_VECTOR | VT_UI1;
    value.bytes = std::move(bytes);
    return value;
}

class SensorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        zntr::platform::SetSystemTimeOverride(kTestDate + 12 * 3600 * kTicksPerSecond);
        gEnableLog = 1;
        ASSERT_EQ(
            zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", {}, device_.GetAddressOf()),
            S_OK);
        ASSERT_EQ(cSensorDDI::CreateInstance(&gpSensorDDI), S_OK);
        gpSensorDDI->AddRef();
        dataEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        stateEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }

    void TearDown() override {
        if (gpSensorDDI != nullptr) {
            gpSensorDDI->Release();
            gpSensorDDI = nullptr;
        }
        CloseHandle(dataEvent_);
        CloseHandle(stateEvent_);
        device_ = nullptr;
        gEnableLog = 0;
        zntr::platform::SetSystemTimeOverride(std::nullopt);
        CoUninitialize();
    }

    cSensorDDI& Sensor() { return *gpSensorDDI; }

    // Initialize as the device calls it, and what it logged.
    HRESULT Initialize(const std::wstring& portId = L"ROOT\\ZNTR\\0000") {
        log_.Take();
        return Sensor().Initialize(portId, device_.Get());
    }

    // The device's events handed over, and a client subscribed (or not).
    void ConnectEvents(ULONG subscribers) {
        cCriticalSectionLock lock(Sensor().mSensorLock);
        Sensor().mhDataEvent = dataEvent_;
        Sensor().mhStateEvent = stateEvent_;
        Sensor().mSubscriberCount = subscribers;
    }
    // Whether the event was set since the last look (the look resets it, as the event thread's
    // wait does).
    bool DataEventSet() { return WaitForSingleObject(dataEvent_, 0) == WAIT_OBJECT_0; }
    bool StateEventSet() { return WaitForSingleObject(stateEvent_, 0) == WAIT_OBJECT_0; }

    void Feed(const std::string& text) { ProcessNMEALine(text.c_str()); }

    // A data field or property as the sensor holds it now.
    Value DataField(REFPROPERTYKEY key) {
        PropVariant value;
        {
            cCriticalSectionLock lock(Sensor().mSensorLock);
            if (!Sensor().mpSensorDataFields ||
                FAILED(Sensor().mpSensorDataFields->GetValue(key, &value))) {
                return Value::Missing();
            }
        }
        return Value::Of(value);
    }
    Value Property(REFPROPERTYKEY key) {
        PropVariant value;
        return FAILED(Sensor().GetPropertyValue(key, &value)) ? Value::Missing() : Value::Of(value);
    }
    // Every data field in catalogue order.
    std::vector<Value> AllDataFields();

    std::vector<std::string> Log() { return log_.Take(); }
    bool Logged(const std::vector<std::string>& log, const std::string& message) {
        for (const std::string& line : log) {
            if (line == message) {
                return true;
            }
        }
        return false;
    }

    zntr::platform::DebugOutputCapture log_;
    ComPtr<IWDFDevice> device_;
    HANDLE dataEvent_ = nullptr;
    HANDLE stateEvent_ = nullptr;
};

inline std::vector<Value> SensorTest::AllDataFields() {
    std::vector<Value> values;
    for (const cCatalogueEntry& entry : kSensorDataFieldCatalogue) {
        values.push_back(DataField(entry.mKey));
    }
    return values;
}

}  // namespace zntr::test
