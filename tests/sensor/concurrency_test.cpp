// The sensor under concurrent use: the receive thread feeding lines while the event thread
// copies the data fields and a client reads properties, run under the thread sanitizer; and the
// rule that no path waits for mSensorLock while it holds the parser's mLock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sensor_test_support.h"
#include "track/synthetic_track.h"

namespace {

using zntr::test::ComPtr;
using zntr::test::PropVariant;
using namespace std::chrono_literals;
using zntr::test::SensorTest;

// The type each data field has once written.
VARTYPE WrittenType(REFPROPERTYKEY key) {
    if (IsEqualPropertyKey(key, SENSOR_DATA_TYPE_TIMESTAMP)) {
        return VT_FILETIME;
    }
    if (IsEqualPropertyKey(key, SENSOR_DATA_TYPE_SATELLITES_USED_PRNS)) {
        return VT_VECTOR | VT_UI1;
    }
    for (const PROPERTYKEY& integer : {SENSOR_DATA_TYPE_FIX_QUALITY, SENSOR_DATA_TYPE_FIX_TYPE,
                                       SENSOR_DATA_TYPE_SATELLITES_USED_COUNT}) {
        if (IsEqualPropertyKey(key, integer)) {
            return VT_I4;
        }
    }
    for (const PROPERTYKEY& single :
         {SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION,
          SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES,
          SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION, SENSOR_DATA_TYPE_SPEED_KNOTS,
          SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES, SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION}) {
        if (IsEqualPropertyKey(key, single)) {
            return VT_R4;
        }
    }
    return VT_R8;
}

// Lines of a synthetic drive with an outage, and the "Dummy" pass after every sixth, as the
// receive loop hands them over.
std::vector<std::string> DriveLines(int epochs) {
    zntr::hotspot::TrackOptions options;
    options.outages = {{epochs / 3, epochs / 2}};
    zntr::hotspot::SyntheticTrack track(options);
    std::vector<std::string> lines;
    for (int epoch = 0; epoch < epochs; ++epoch) {
        for (const std::string& sentence : track.Next().sentences) {
            lines.push_back(sentence);
            if (lines.size() % 7 == 6) {
                lines.push_back("Dummy");
            }
        }
    }
    return lines;
}

TEST_F(SensorTest, LinesFedWhileTheEventThreadCopiesAndAClientReads) {
    ASSERT_EQ(Initialize(), S_OK);
    ConnectEvents(1);
    const std::vector<std::string> lines = DriveLines(120);
    std::atomic<bool> feeding{true};
    std::atomic<int> copies{0};
    std::atomic<int> wrongTypes{0};
    std::atomic<int> stateReads{0};

    // As the event thread: wake on the data event, copy every field under the sensor lock.
    std::thread eventThread([&] {
        ComPtr<IPortableDeviceValues> parameters;
        CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IPortableDeviceValues,
                         reinterpret_cast<void**>(parameters.GetAddressOf()));
        while (feeding || WaitForSingleObject(dataEvent_, 0) == WAIT_OBJECT_0) {
            if (WaitForSingleObject(dataEvent_, 5) != WAIT_OBJECT_0) {
                continue;
            }
            parameters->Clear();
            parameters->SetGuidValue(SENSOR_EVENT_PARAMETER_EVENT_ID, SENSOR_EVENT_DATA_UPDATED);
            if (FAILED(gpSensorDDI->CopyDataFieldValues(parameters.Get()))) {
                continue;
            }
            ++copies;
            DWORD count = 0;
            parameters->GetCount(&count);
            for (DWORD i = 1; i < count; ++i) {
                PROPERTYKEY key;
                PropVariant value;
                parameters->GetAt(i, &key, &value);
                // A field not written yet is still empty; a written one has its own type.
                if (value.vt != VT_EMPTY && value.vt != WrittenType(key)) {
                    ++wrongTypes;
                }
            }
        }
    });
    // As a client: the state, read without the lock, and the state property through it; at
    // least once, however late a loaded machine schedules this thread.
    std::thread client([&] {
        do {
            const ULONG state = gpSensorDDI->mSensorState;
            PropVariant property;
            if (SUCCEEDED(gpSensorDDI->GetPropertyValue(SENSOR_PROPERTY_STATE, &property)) &&
                property.vt == VT_UI4 && state <= SENSOR_STATE_INITIALIZING) {
                ++stateReads;
            }
        } while (feeding);
    });
    // As the receive thread.
    std::thread receiveThread([&] {
        for (const std::string& line : lines) {
            ProcessNMEALine(line.c_str());
        }
        feeding = false;
    });
    receiveThread.join();
    client.join();
    eventThread.join();

    EXPECT_GT(copies.load(), 0);
    EXPECT_EQ(wrongTypes.load(), 0);
    EXPECT_GT(stateReads.load(), 0);
    // The drive wrote every field by its end.
    for (const cCatalogueEntry& entry : kSensorDataFieldCatalogue) {
        EXPECT_EQ(DataField(entry.mKey).vt, WrittenType(entry.mKey)) << entry.mName;
    }
    EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(SENSOR_STATE_READY))
        << "the drive ends with a fix";
}

// The reading update copies the fix record under mLock and leaves it before it writes fields
// under mSensorLock. With mSensorLock held here, a feeding thread must block on it without
// holding mLock: mLock stays free to take.
TEST_F(SensorTest, TheReadingUpdateNeverWaitsForTheSensorLockWithTheParserLockHeld) {
    ASSERT_EQ(Initialize(), S_OK);
    cNMEAParser& parser = Sensor().mNMEAParser;
    bool decoded = false;
    bool parserLockFree = false;
    VARTYPE fieldWhileHeld = VT_ILLEGAL;
    std::thread feeder;
    {
        cCriticalSectionLock hold(Sensor().mSensorLock);
        feeder = std::thread([] {
            ProcessNMEALine(
                "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
        });
        // Wait until the sentence is decoded into the fix record...
        for (int i = 0; i < 200 && !decoded; ++i) {
            if (TryEnterCriticalSection(&parser.mLock)) {
                decoded = parser.mLatitude != NO_DOUBLE_VALUE;
                LeaveCriticalSection(&parser.mLock);
            }
            std::this_thread::sleep_for(10ms);
        }
        // ...then give the feeder time to reach the sensor lock; the parser lock must be free.
        std::this_thread::sleep_for(50ms);
        for (int i = 0; i < 20 && !parserLockFree; ++i) {
            if (TryEnterCriticalSection(&parser.mLock)) {
                parserLockFree = true;
                LeaveCriticalSection(&parser.mLock);
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        fieldWhileHeld = DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES).vt;
    }
    // The feeder finishes once the sensor lock is free, whatever it did with the parser lock.
    feeder.join();
    EXPECT_TRUE(decoded) << "the parser lock was never free with the sentence decoded";
    EXPECT_TRUE(parserLockFree) << "the feeder holds the parser lock while it waits";
    EXPECT_EQ(fieldWhileHeld, VT_EMPTY) << "the feeder waits for the sensor lock";
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES).vt, VT_R8);
}

}  // namespace
