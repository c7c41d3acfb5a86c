// The sensor's locked operations: E_UNEXPECTED without collections, the reads and writes they
// pass on, the state event, and mSensorLock held for the whole of each.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "sensor_test_support.h"

namespace {

using zntr::test::ComPtr;
using zntr::test::PropVariant;
using namespace std::chrono_literals;
using zntr::test::I4;
using zntr::test::R8;
using zntr::test::SensorTest;
using zntr::test::UI4;

TEST_F(SensorTest, WithoutCollectionsEveryOperationIsUnexpected) {
    PropVariant value;
    value.vt = VT_R8;
    PropVariant read;
    ComPtr<IPortableDeviceValues> target;
    ASSERT_EQ(CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IPortableDeviceValues,
                               reinterpret_cast<void**>(target.GetAddressOf())),
              S_OK);
    EXPECT_EQ(Sensor().GetPropertyValue(SENSOR_PROPERTY_STATE, &read), E_UNEXPECTED);
    EXPECT_EQ(Sensor().SetPropertyValue(SENSOR_PROPERTY_STATE, &value), E_UNEXPECTED);
    EXPECT_EQ(Sensor().SetDataFieldValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value), E_UNEXPECTED);
    EXPECT_EQ(Sensor().CopyDataFieldValues(target.Get()), E_UNEXPECTED);
    EXPECT_EQ(Sensor().SetLBSDefaultPropertyValues(), E_UNEXPECTED);

    ASSERT_EQ(Initialize(), S_OK);
    EXPECT_EQ(Sensor().SetPropertyValue(SENSOR_PROPERTY_STATE, nullptr), E_UNEXPECTED);
    EXPECT_EQ(Sensor().SetDataFieldValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, nullptr), E_UNEXPECTED);
}

TEST_F(SensorTest, PropertyAndDataFieldWritesReachTheirCollections) {
    ASSERT_EQ(Initialize(), S_OK);
    PropVariant value;
    value.vt = VT_UI4;
    value.ulVal = 3;
    EXPECT_EQ(Sensor().SetPropertyValue(SENSOR_PROPERTY_STATE, &value), S_OK);
    EXPECT_EQ(Property(SENSOR_PROPERTY_STATE), UI4(3));
    EXPECT_EQ(DataField(SENSOR_PROPERTY_STATE).held, false) << "not a data field";

    value.Clear();
    value.vt = VT_R8;
    value.dblVal = -33.5;
    EXPECT_EQ(Sensor().SetDataFieldValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value), S_OK);
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES), R8(-33.5));

    PropVariant read;
    EXPECT_EQ(Sensor().GetPropertyValue(SENSOR_DATA_TYPE_SPEED_KNOTS, &read),
              HRESULT_FROM_WIN32(ERROR_NOT_FOUND))
        << "a key the sensor does not have gives the collection's status";
}

TEST_F(SensorTest, SetSensorStateSignalsOnlyWhileSomeoneIsSubscribed) {
    ASSERT_EQ(Initialize(), S_OK);
    struct Case {
        const char* legend;
        ULONG subscribers;
        bool handOverEvents;
        bool signalled;
    };
    const Case cases[] = {
        {"no subscriber", 0, true, false},
        {"a subscriber", 1, true, true},
        {"two subscribers", 2, true, true},
        {"a subscriber but no event handed over yet", 1, false, false},
    };
    for (const Case& c : cases) {
        ConnectEvents(c.subscribers);
        if (!c.handOverEvents) {
            cCriticalSectionLock lock(Sensor().mSensorLock);
            Sensor().mhStateEvent = nullptr;
        }
        const SensorState state =
            c.subscribers % 2 ? SENSOR_STATE_READY : SENSOR_STATE_INITIALIZING;
        Sensor().SetSensorState(state);
        EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(state)) << c.legend;
        EXPECT_EQ(StateEventSet(), c.signalled) << c.legend;
        EXPECT_FALSE(DataEventSet()) << c.legend;
        EXPECT_EQ(Property(SENSOR_PROPERTY_STATE), UI4(SENSOR_STATE_NO_DATA))
            << c.legend << ": the property is the caller's to set";
    }
}

TEST_F(SensorTest, CopyDataFieldValuesCopiesEveryFieldInOrderIntoTheTarget) {
    ASSERT_EQ(Initialize(), S_OK);
    Feed("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    ComPtr<IPortableDeviceValues> target;
    ASSERT_EQ(CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IPortableDeviceValues,
                               reinterpret_cast<void**>(target.GetAddressOf())),
              S_OK);
    // The event id parameter the event thread puts first stays first.
    target->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED);
    EXPECT_EQ(Sensor().CopyDataFieldValues(target.Get()), S_OK);
    DWORD count = 0;
    target->GetCount(&count);
    ASSERT_EQ(count, 17u);
    PROPERTYKEY key;
    target->GetAt(0, &key, nullptr);
    EXPECT_TRUE(IsEqualPropertyKey(key, SENSOR_EVENT_PARAMETER_EVENT_ID));
    for (DWORD i = 1; i < count; ++i) {
        PropVariant value;
        target->GetAt(i, &key, &value);
        EXPECT_TRUE(IsEqualPropertyKey(key, kSensorDataFieldCatalogue[i - 1].mKey));
        EXPECT_EQ(zntr::test::Value::Of(value), DataField(key))
            << kSensorDataFieldCatalogue[i - 1].mName;
    }
    EXPECT_EQ(Sensor().CopyDataFieldValues(nullptr), E_POINTER);
}

// Another thread holding mSensorLock keeps each operation from finishing until it lets go.
TEST_F(SensorTest, EachLockedOperationWaitsForTheSensorLock) {
    ASSERT_EQ(Initialize(), S_OK);
    ConnectEvents(1);
    ComPtr<IPortableDeviceValues> target;
    CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                     IID_IPortableDeviceValues, reinterpret_cast<void**>(target.GetAddressOf()));
    struct Case {
        const char* legend;
        std::function<void()> operation;
    };
    const Case cases[] = {
        {"GetPropertyValue",
         [&] {
             PropVariant value;
             Sensor().GetPropertyValue(SENSOR_PROPERTY_STATE, &value);
         }},
        {"SetPropertyValue",
         [&] {
             PropVariant value;
             value.vt = VT_UI4;
             Sensor().SetPropertyValue(SENSOR_PROPERTY_MODEL, &value);
         }},
        {"SetDataFieldValue",
         [&] {
             PropVariant value;
             value.vt = VT_I4;
             Sensor().SetDataFieldValue(SENSOR_DATA_TYPE_FIX_TYPE, &value);
         }},
        {"SetSensorState", [&] { Sensor().SetSensorState(SENSOR_STATE_READY); }},
        {"CopyDataFieldValues", [&] { Sensor().CopyDataFieldValues(target.Get()); }},
        {"the reading update's single writes",
         [&] { Feed("$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\r\n"); }},
    };
    for (const Case& c : cases) {
        std::atomic<bool> finished{false};
        std::thread worker;
        {
            cCriticalSectionLock hold(Sensor().mSensorLock);
            worker = std::thread([&] {
                c.operation();
                finished = true;
            });
            std::this_thread::sleep_for(50ms);
            EXPECT_FALSE(finished) << c.legend << " finished while the lock was held";
        }
        worker.join();
        EXPECT_TRUE(finished) << c.legend;
    }
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_FIX_TYPE), I4(0));
}

}  // namespace
