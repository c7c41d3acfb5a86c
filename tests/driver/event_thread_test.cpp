// The sensor event thread of a prepared device, posting to the fake class extension: the order
// in which it serves its events, the collapsing of signals, what a data event carries, the states
// it posts, and its failure paths.
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver_test_support.h"
#include "standin/com_control.h"
#include "standin/resource_control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "critical_section_lock.h"
#include "prop_variant.h"

namespace {

using namespace std::chrono_literals;
using zntr::test::ComPtr;
using zntr::test::DriverTest;
using zntr::test::Gate;
using zntr::test::PostedEvent;
using zntr::test::PostedValue;

class EventThreadTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        StartDevice();
        ClassExtension().calls.clear();
        Log();
    }
    void TearDown() override {
        gate_.Open();
        {
            std::lock_guard<std::mutex> lock(ClassExtension().mutex);
            ClassExtension().onPost = nullptr;
        }
        DriverTest::TearDown();
    }

    void Signal(HANDLE event) { ASSERT_TRUE(SetEvent(event)); }
    // The thread held inside its next post until Open().
    void HoldPosts() {
        gate_.Close();
        std::lock_guard<std::mutex> lock(ClassExtension().mutex);
        ClassExtension().onPost = [this] { gate_.Pass(); };
    }
    // The event thread has ended (it took the exit event, or failed).
    bool ThreadEnded() {
        return WaitForSingleObject(Device().mhEventThread, 5000) == WAIT_OBJECT_0;
    }

    std::vector<PostedEvent> Events() {
        std::lock_guard<std::mutex> lock(ClassExtension().mutex);
        return ClassExtension().events;
    }
    size_t CountCalls(const std::string& call) {
        size_t count = 0;
        for (const std::string& made : ClassExtension().Calls()) {
            count += made == call ? 1 : 0;
        }
        return count;
    }
    bool WaitForCalls(const std::string& call, size_t count) {
        return ClassExtension().WaitFor(
            [&] {
                size_t made = 0;
                for (const std::string& c : ClassExtension().calls) {
                    made += c == call ? 1 : 0;
                }
                return made >= count;
            },
            5s);
    }
    void SetLatitude(double latitude) {
        cPropVariant value;
        value.vt = VT_R8;
        value.dblVal = latitude;
        ASSERT_EQ(gpSensorDDI->SetDataFieldValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value), S_OK);
    }
    static std::optional<double> Latitude(const std::vector<PostedValue>& element) {
        for (const PostedValue& value : element) {
            if (IsEqualPropertyKey(value.key, SENSOR_DATA_TYPE_LATITUDE_DEGREES)) {
                return value.number;
            }
        }
        return std::nullopt;
    }
    // The sensor's data-field keys, in its collection's order.
    std::vector<PROPERTYKEY> DataFieldKeys() {
        std::vector<PROPERTYKEY> keys;
        cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
        DWORD count = 0;
        gpSensorDDI->mpSensorDataFields->GetCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            PROPERTYKEY key;
            cPropVariant value;
            gpSensorDDI->mpSensorDataFields->GetAt(i, &key, &value);
            keys.push_back(key);
        }
        return keys;
    }

    Gate gate_;
};

// With data, state and exit all signalled while the thread is busy, it serves them by their
// index: data first, then state, then exit.
TEST_F(EventThreadTest, ServesDataBeforeStateBeforeExit) {
    HoldPosts();
    Signal(Device().mhStateEvent);
    ASSERT_TRUE(gate_.WaitForHeldThread(5s)) << "the thread never posted the first state";
    Signal(Device().mhExitEvent);
    Signal(Device().mhStateEvent);
    Signal(Device().mhDataEvent);
    gate_.Open();
    ASSERT_TRUE(ThreadEnded());

    EXPECT_EQ(ClassExtension().Calls(),
              (std::vector<std::string>{"PostStateChange(2)", "PostEvent", "PostStateChange(2)"}));
    EXPECT_EQ(Log(), (std::vector<std::string>{"PostStateChangedEvent: posted state event",
                                               "SensorEventThreadProc: posted state event",
                                               "PostDataEvent: posted data event",
                                               "PostStateChangedEvent: posted state event",
                                               "SensorEventThreadProc: posted state event",
                                               "SensorEventThreadProc: exit event"}));
}

// Ten data signals while the thread posts collapse into one more event, which carries the values
// current when it is posted.
TEST_F(EventThreadTest, SignalsGivenWhileBusyCollapseIntoOneEventWithTheLatestValues) {
    HoldPosts();
    SetLatitude(1.0);
    Signal(Device().mhDataEvent);
    ASSERT_TRUE(gate_.WaitForHeldThread(5s));
    for (int i = 0; i < 10; ++i) {
        SetLatitude(10.0 + i);
        Signal(Device().mhDataEvent);
    }
    gate_.Open();
    ASSERT_TRUE(WaitForCalls("PostEvent", 2));
    std::this_thread::sleep_for(300ms);

    const std::vector<PostedEvent> events = Events();
    ASSERT_EQ(events.size(), 2u);
    ASSERT_EQ(events[0].elements.size(), 1u);
    ASSERT_EQ(events[1].elements.size(), 1u);
    EXPECT_EQ(Latitude(events[0].elements[0]), 1.0);
    EXPECT_EQ(Latitude(events[1].elements[0]), 19.0);
}

TEST_F(EventThreadTest, ADataEventCarriesTheEventIdThenEveryDataFieldUnderTheSensorId) {
    const std::vector<PROPERTYKEY> keys = DataFieldKeys();
    ASSERT_FALSE(keys.empty());
    Signal(Device().mhDataEvent);
    ASSERT_TRUE(WaitForCalls("PostEvent", 1));

    const std::vector<PostedEvent> events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].sensorId, L"ZntrVComLocation");
    ASSERT_EQ(events[0].elements.size(), 1u) << "exactly one element";
    const std::vector<PostedValue>& element = events[0].elements[0];
    ASSERT_EQ(element.size(), keys.size() + 1);
    EXPECT_TRUE(IsEqualPropertyKey(element[0].key, SENSOR_EVENT_PARAMETER_EVENT_ID));
    EXPECT_EQ(element[0].vt, VT_CLSID);
    EXPECT_TRUE(IsEqualGUID(element[0].guid, SENSOR_EVENT_DATA_UPDATED));
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_TRUE(IsEqualPropertyKey(element[i + 1].key, keys[i])) << "field " << i;
    }
}

TEST_F(EventThreadTest, WithNoDataFieldsTheEventCarriesTheEventIdOnly) {
    {
        cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
        ASSERT_EQ(gpSensorDDI->mpSensorDataFields->Clear(), S_OK);
    }
    Signal(Device().mhDataEvent);
    ASSERT_TRUE(WaitForCalls("PostEvent", 1));
    const std::vector<PostedEvent> events = Events();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].elements.size(), 1u);
    ASSERT_EQ(events[0].elements[0].size(), 1u);
    EXPECT_TRUE(IsEqualPropertyKey(events[0].elements[0][0].key, SENSOR_EVENT_PARAMETER_EVENT_ID));
}

TEST_F(EventThreadTest, WithoutADataFieldCollectionTheEventIsDroppedSilently) {
    ComPtr<IPortableDeviceValues> stashed;
    {
        cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
        stashed.Swap(gpSensorDDI->mpSensorDataFields);
    }
    Signal(Device().mhDataEvent);
    Signal(Device().mhExitEvent);
    ASSERT_TRUE(ThreadEnded());
    {
        cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
        stashed.Swap(gpSensorDDI->mpSensorDataFields);
    }
    EXPECT_EQ(CountCalls("PostEvent"), 0u);
    EXPECT_EQ(Log(), std::vector<std::string>{"SensorEventThreadProc: exit event"});
}

// Only the three states the sensor moves between are posted; any other is passed over without a
// word. The exit signalled with it is served after it, so the thread's end shows it was seen.
struct StateCase {
    const char* legend;
    SensorState state;
    bool posted;
};

class EventThreadStateTest : public EventThreadTest,
                             public ::testing::WithParamInterface<StateCase> {};

TEST_P(EventThreadStateTest, PostsOnlyReadyNoDataAndInitialising) {
    gpSensorDDI->mSensorState = GetParam().state;
    Signal(Device().mhStateEvent);
    Signal(Device().mhExitEvent);
    ASSERT_TRUE(ThreadEnded());
    if (GetParam().posted) {
        EXPECT_EQ(
            ClassExtension().Calls(),
            std::vector<std::string>{"PostStateChange(" + std::to_string(GetParam().state) + ")"});
        EXPECT_EQ(Log(), (std::vector<std::string>{"PostStateChangedEvent: posted state event",
                                                   "SensorEventThreadProc: posted state event",
                                                   "SensorEventThreadProc: exit event"}));
    } else {
        EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{});
        EXPECT_EQ(Log(), std::vector<std::string>{"SensorEventThreadProc: exit event"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachState, EventThreadStateTest,
    ::testing::Values(StateCase{"ready", SENSOR_STATE_READY, true},
                      StateCase{"not available", SENSOR_STATE_NOT_AVAILABLE, false},
                      StateCase{"no data", SENSOR_STATE_NO_DATA, true},
                      StateCase{"initialising", SENSOR_STATE_INITIALIZING, true},
                      StateCase{"access denied", SENSOR_STATE_ACCESS_DENIED, false},
                      StateCase{"error", SENSOR_STATE_ERROR, false}),
    [](const ::testing::TestParamInfo<StateCase>& row) {
        return "State" + std::to_string(row.param.state);
    });

// The device's own thread is replaced by one the test runs while the device has no class
// extension: every wake-up logs its posting operation's failure, and the thread goes on.
TEST_F(EventThreadTest, WithoutAClassExtensionEachPostLogsItsFailureAndTheThreadGoesOn) {
    Signal(Device().mhExitEvent);
    ASSERT_TRUE(ThreadEnded());
    CloseHandle(Device().mhEventThread);
    Device().mhEventThread = nullptr;
    ComPtr<ISensorClassExtension> stashed;
    {
        cCriticalSectionLock lock(Device().mClassExtensionLock);
        stashed.Swap(Device().mpSensorClassExtension);
    }
    Log();

    const HANDLE thread = CreateThread(nullptr, 0, SensorEventThreadProc, &Device(), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    Signal(Device().mhDataEvent);
    EXPECT_TRUE(WaitForLog("PostDataEvent: failed to post data event"));
    Signal(Device().mhStateEvent);
    EXPECT_TRUE(WaitForLog("SensorEventThreadProc: posted state event"));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT) << "the thread keeps running";
    Signal(Device().mhExitEvent);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);

    EXPECT_EQ(Log(), (std::vector<std::string>{"PostDataEvent: failed to post data event",
                                               "PostStateChangedEvent: failed to post state event",
                                               "SensorEventThreadProc: posted state event",
                                               "SensorEventThreadProc: exit event"}));
    EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{});
    {
        cCriticalSectionLock lock(Device().mClassExtensionLock);
        stashed.Swap(Device().mpSensorClassExtension);
    }
}

TEST_F(EventThreadTest, ASensorIdThatCannotBeAllocatedSkipsThatOnePost) {
    zntr::platform::FailNextHeapAllocations(1);
    Signal(Device().mhDataEvent);
    EXPECT_TRUE(
        WaitForLog("SensorEventThreadProc: no memory for the sensor ID, data event not "
                   "posted"));
    zntr::platform::FailNextHeapAllocations(0);
    EXPECT_EQ(CountCalls("PostEvent"), 0u);

    Signal(Device().mhDataEvent);
    EXPECT_TRUE(WaitForCalls("PostEvent", 1)) << "the next post goes through";
}

TEST_F(EventThreadTest, ThreadSetUpFailuresEndTheThreadWithALogLine) {
    EXPECT_EQ(SensorEventThreadProc(nullptr), 0u);
    EXPECT_EQ(Log(),
              std::vector<std::string>{"SensorEventThreadProc: invalid pMainDevice pointer"});

    {
        zntr::platform::ComCreationFailure noValues(CLSID_PortableDeviceValues, E_OUTOFMEMORY);
        EXPECT_EQ(SensorEventThreadProc(&Device()), 0u);
    }
    EXPECT_EQ(Log(), std::vector<std::string>{
                         "SensorEventThreadProc: failed to create event collections"});

    // A thread already in a single-threaded apartment cannot enter the multithreaded one.
    std::thread apartmentThread([this] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(SensorEventThreadProc(&Device()), 0u);
        CoUninitialize();
    });
    apartmentThread.join();
    EXPECT_EQ(Log(),
              std::vector<std::string>{"SensorEventThreadProc: unable to initialize multi-thread"});
    EXPECT_EQ(ClassExtension().Calls(), std::vector<std::string>{});
}

}  // namespace
