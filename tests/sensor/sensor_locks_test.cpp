// What the request and field goldens cannot say about the sensor: its lock order (no path holds
// mSensorLock and the parser's mLock together) and the unique ID kept with the device across a
// restart of the host.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <thread>

#include "critical_section_lock.h"
#include "nmea_line_sink.h"
#include "offline_sensor.h"
#include "sentence.h"
#include "standin/com_helpers.h"
#include "temporary_folder.h"
#include "wait_until.h"

namespace {

using namespace std::chrono_literals;
using zntr::tools::OfflineSensor;

// Whether the thread sleeps in the kernel, as it does while it waits to enter a critical section.
bool Sleeping(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t name = text.rfind(')');
    return name != std::string::npos && name + 2 < text.size() && text[name + 2] == 'S';
}

// A sentence, and a member of the fix record that shows it was decoded.
struct Decoded {
    const char* body;
    double cNMEAParser::*member;
    double value;
};

// Whether no other thread holds the parser's lock, and the sentence was decoded.
bool DecodedWithTheLockFree(cNMEAParser& parser, const Decoded& sentence) {
    if (!TryEnterCriticalSection(&parser.mLock)) {
        return false;
    }
    const bool decoded = parser.*sentence.member == sentence.value;
    LeaveCriticalSection(&parser.mLock);
    return decoded;
}

// Runs the operation on a thread of its own while this thread holds `held`, and gives whether
// that thread came to wait (sleeping in the kernel) while `condition` held; then lets it finish.
bool WaitsWhileHolding(
    CRITICAL_SECTION& held, const std::function<void()>& operation,
    const std::function<bool()>& condition = [] { return true; }) {
    std::atomic<pid_t> worker{0};
    std::thread working;
    bool waited = false;
    {
        cCriticalSectionLock hold(held);
        working = std::thread([&] {
            worker = static_cast<pid_t>(syscall(SYS_gettid));
            operation();
        });
        waited = zntr::test::WaitUntil(
            [&] { return worker != 0 && Sleeping(worker) && condition(); }, 30s);
    }
    working.join();
    return waited;
}

// Each sentence is decoded under the parser's lock, its values copied out under it, and only
// after it is left are the data fields written, each under mSensorLock. With mSensorLock held
// here, a line fed on another thread ends up waiting for it, and must do so with the parser's
// lock free.
TEST(SensorLocks, TheReadingUpdateWaitsForTheSensorLockWithoutTheParserLock) {
    OfflineSensor offline;
    ASSERT_EQ(offline.Start(), S_OK);
    cSensorDDI& sensor = offline.Sensor();
    const Decoded sentences[] = {
        {"GPGGA,000001,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", &cNMEAParser::mUTCTime,
         1},
        {"GPVTG,054.7,T,034.4,M,005.5,N,010.2,K", &cNMEAParser::mTrueCourse, 54.7},
        {"GPRMC,000003,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", &cNMEAParser::mUTCTime,
         3},
        {"GPGLL,4916.45,N,12311.12,W,000004,A", &cNMEAParser::mUTCTime, 4},
        {"GPGSA,A,2,04,05,,,,,,,,,,,2.5,1.3,2.1", &cNMEAParser::mPDOP, 2.5},
        {"PQXFI,000005.0,4807.038,N,01131.000,W,545.4,12.5,20.1,0.3", &cNMEAParser::mUTCTime, 5},
    };
    for (const Decoded& sentence : sentences) {
        const std::string line = zntr::test::Sentence(sentence.body);
        EXPECT_TRUE(WaitsWhileHolding(
            sensor.mSensorLock, [&] { ProcessNMEALine(line.c_str()); },
            [&] { return DecodedWithTheLockFree(sensor.mNMEAParser, sentence); }))
            << sentence.body;
    }
}

// The operations on the sensor's collections, counts and state each hold mSensorLock, so each
// waits while another thread holds it.
TEST(SensorLocks, EveryLockedOperationWaitsForTheSensorLock) {
    OfflineSensor offline;
    ASSERT_EQ(offline.Start(), S_OK);
    cSensorDDI& sensor = offline.Sensor();
    std::wstring id = SENSOR_OBJECT_ID;
    zntr::platform::PropVariant value;
    value.vt = VT_UI4;
    IPortableDeviceValues* copy = offline.CopyDataFields();
    const std::function<void()> operations[] = {
        [&] { sensor.SetPropertyValue(SENSOR_PROPERTY_STATE, &value); },
        [&] { sensor.SetDataFieldValue(SENSOR_DATA_TYPE_FIX_TYPE, &value); },
        [&] { sensor.SetSensorState(SENSOR_STATE_READY); },
        [&] { sensor.CopyDataFieldValues(copy); },
        [&] { sensor.OnClientSubscribeToEvents(nullptr, id.data()); },
        [&] { sensor.OnClientUnsubscribeFromEvents(nullptr, id.data()); },
        [&] {
            zntr::platform::PropVariant read;
            sensor.GetPropertyValue(SENSOR_PROPERTY_STATE, &read);
        },
    };
    for (size_t i = 0; i < std::size(operations); ++i) {
        EXPECT_TRUE(WaitsWhileHolding(sensor.mSensorLock, operations[i])) << "operation " << i;
    }
}

// The callbacks that take mSensorLock never need the parser's lock: with it held elsewhere,
// they all finish.
TEST(SensorLocks, TheSensorsCallbacksNeverTakeTheParserLock) {
    OfflineSensor offline;
    ASSERT_EQ(offline.Start(), S_OK);
    cSensorDDI& sensor = offline.Sensor();
    std::atomic<bool> finished{false};
    std::thread callbacks;
    {
        cCriticalSectionLock hold(sensor.mNMEAParser.mLock);
        callbacks = std::thread([&] {
            Microsoft::WRL::ComPtr<IPortableDeviceKeyCollection> keys;
            Microsoft::WRL::ComPtr<IPortableDeviceValues> values;
            std::wstring id = SENSOR_OBJECT_ID;
            sensor.OnGetSupportedProperties(id.data(), keys.GetAddressOf());
            sensor.OnGetProperties(nullptr, id.data(), keys.Get(), values.GetAddressOf());
            sensor.OnGetSupportedDataFields(id.data(), keys.ReleaseAndGetAddressOf());
            sensor.OnGetDataFields(nullptr, id.data(), keys.Get(), values.ReleaseAndGetAddressOf());
            sensor.CopyDataFieldValues(offline.CopyDataFields());
            sensor.OnClientSubscribeToEvents(nullptr, id.data());
            sensor.SetSensorState(SENSOR_STATE_READY);
            sensor.PrepareToSleep();
            sensor.OnClientUnsubscribeFromEvents(nullptr, id.data());
            finished = true;
        });
        EXPECT_TRUE(zntr::test::WaitUntil([&] { return finished.load(); }, 30s));
    }
    callbacks.join();
}

// The unique ID is made on the device's first start and kept in its property store, which the
// host keeps in its state folder: a sensor made again on the same device after a restart finds
// the same ID, another device gets its own.
TEST(SensorUniqueId, IsMadeOnceAndFoundAgainAfterARestart) {
    zntr::test::TemporaryFolder state;
    const auto uniqueIdOf = [&](const wchar_t* device, std::wstring* stored) {
        OfflineSensor offline;
        EXPECT_EQ(offline.Start({device, state.path(), false}), S_OK);
        zntr::platform::PropVariant value;
        EXPECT_EQ(offline.Sensor().GetPropertyValue(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, &value),
                  S_OK);
        Microsoft::WRL::ComPtr<IWDFNamedPropertyStore> store;
        zntr::platform::PropVariant text;
        EXPECT_EQ(offline.Device()->RetrieveDevicePropertyStore(nullptr, WdfPropertyStoreNormal,
                                                                store.GetAddressOf(), nullptr),
                  S_OK);
        EXPECT_EQ(store->GetNamedValue(L"ZntrVComLocation", &text), S_OK);
        *stored = text.vt == VT_LPWSTR ? text.pwszVal : L"";
        return value.vt == VT_CLSID ? *value.puuid : GUID_NULL;
    };
    std::wstring first;
    std::wstring again;
    std::wstring other;
    const GUID id = uniqueIdOf(L"ROOT\\ZNTR\\0000", &first);
    EXPECT_FALSE(IsEqualGUID(id, GUID_NULL));
    // The registry form of the GUID: braces, upper-case hexadecimal.
    wchar_t text[39];
    std::swprintf(text, 39, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", id.Data1,
                  id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3],
                  id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    EXPECT_EQ(first, text);
    EXPECT_TRUE(IsEqualGUID(uniqueIdOf(L"ROOT\\ZNTR\\0000", &again), id));
    EXPECT_EQ(again, first);
    EXPECT_FALSE(IsEqualGUID(uniqueIdOf(L"ROOT\\ZNTR\\0001", &other), id));
}

}  // namespace
