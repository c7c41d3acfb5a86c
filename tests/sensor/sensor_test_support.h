// The sensor of the feed, device identity and client tests (tests/feed, tests/driver,
// tests/client and the live sensor tests here): the calling thread in COM, the debug log
// captured, a framework device whose named values live in memory, the one sensor in gpSensorDDI,
// and its data and state events as the device hands them over.
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
#include "nmea/sentence.h"
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
inline Value Empty() {
    return Value();
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

}  // namespace zntr::test
