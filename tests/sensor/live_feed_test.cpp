// The live sensor end to end, in process: a client subscribes and connects through the sensor's
// callbacks, the simulator streams a synthetic drive, and a watcher waits on the sensor's data
// and state events as the device's event thread does. The drive arrives as data fields, the
// state goes from no data to ready, each data event carries a position of the drive, and when
// the stream stops the ten fields the receive loop clears become 0.0.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "live_sensor_test_support.h"
#include "track/synthetic_track.h"

namespace {

using namespace std::chrono_literals;
using zntr::hotspot::Epoch;
using zntr::hotspot::SimulatorOptions;
using zntr::hotspot::SyntheticTrack;
using zntr::test::ComPtr;
using zntr::test::kClearedWhenSilent;
using zntr::test::LiveSensorTest;
using zntr::test::PropVariant;
using zntr::test::R8;
using zntr::test::StreamingHotspot;

struct Position {
    double latitude = 0;
    double longitude = 0;
};

// Waits on the sensor's events as the device's event thread does: on a data event it copies
// every data field, on a state event it reads the state.
class EventWatcher {
  public:
    EventWatcher(HANDLE dataEvent, HANDLE stateEvent)
        : exit_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_([this, dataEvent, stateEvent] { Run(dataEvent, stateEvent); }) {}
    ~EventWatcher() {
        SetEvent(exit_);
        thread_.join();
        CloseHandle(exit_);
    }
    EventWatcher(const EventWatcher&) = delete;
    EventWatcher& operator=(const EventWatcher&) = delete;

    std::vector<Position> Positions() {
        std::lock_guard<std::mutex> lock(mutex_);
        return positions_;
    }
    std::vector<ULONG> States() {
        std::lock_guard<std::mutex> lock(mutex_);
        return states_;
    }

  private:
    void Run(HANDLE dataEvent, HANDLE stateEvent) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ComPtr<IPortableDeviceValues> fields;
            CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IPortableDeviceValues,
                             reinterpret_cast<void**>(fields.GetAddressOf()));
            const HANDLE events[] = {exit_, stateEvent, dataEvent};
            for (;;) {
                const DWORD signalled = WaitForMultipleObjects(3, events, FALSE, INFINITE);
                if (signalled == WAIT_OBJECT_0 + 1) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    states_.push_back(gpSensorDDI->mSensorState);
                } else if (signalled == WAIT_OBJECT_0 + 2) {
                    fields->Clear();
                    gpSensorDDI->CopyDataFieldValues(fields.Get());
                    PropVariant latitude, longitude;
                    fields->GetValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &latitude);
                    fields->GetValue(SENSOR_DATA_TYPE_LONGITUDE_DEGREES, &longitude);
                    std::lock_guard<std::mutex> lock(mutex_);
                    positions_.push_back({latitude.dblVal, longitude.dblVal});
                } else {
                    break;
                }
            }
        }
        CoUninitialize();
    }

    HANDLE exit_;
    std::mutex mutex_;
    std::vector<Position> positions_;
    std::vector<ULONG> states_;
    std::thread thread_;
};

// Whether some epoch of the drive has that coordinate, as the sentences print it (to 1e-4
// minute).
bool OnTheDrive(const std::vector<Epoch>& epochs, double Epoch::*coordinate, double value) {
    for (const Epoch& epoch : epochs) {
        if (std::fabs(epoch.*coordinate - value) < 2e-6) {
            return true;
        }
    }
    return false;
}

TEST_F(LiveSensorTest, ADriveArrivesAsDataFieldsAndTheFieldsClearWhenTheStreamStops) {
    // Two and a half seconds of the drive, twenty epochs a second; then the stream ends.
    SimulatorOptions options = StreamingHotspot();
    std::vector<Epoch> epochs;
    SyntheticTrack track(options.track);
    for (int i = 0; i < 50; ++i) {
        epochs.push_back(track.Next());
        options.faults.close_after_sentences += static_cast<int>(epochs.back().sentences.size());
    }
    StartHotspot(options);

    EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(SENSOR_STATE_NO_DATA));
    auto watcher = std::make_unique<EventWatcher>(dataEvent_, stateEvent_);
    ASSERT_EQ(Subscribe(), S_OK);
    ASSERT_EQ(Connect(), S_OK);

    // Streaming, the loop clears the fields once a second between bursts, and a burst's lines
    // soon write them again. Stopped, they stay cleared, and no data event comes any more.
    bool silent = false;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!silent && std::chrono::steady_clock::now() < deadline) {
        if (!WaitFor([&] { return DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES) == R8(0.0); },
                     10s)) {
            break;
        }
        const size_t events = watcher->Positions().size();
        std::this_thread::sleep_for(1100ms);
        silent = DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES) == R8(0.0) &&
                 watcher->Positions().size() == events;
    }
    ASSERT_TRUE(silent) << "the stream never went silent";

    // A copy shows the fields as they are when the watcher gets to it: two events close
    // together (a PQXFI sentence and the "Dummy" pass after it) may show the same position, and
    // a copy made between the writes of a latitude and its longitude pairs two epochs.
    const std::vector<Position> positions = watcher->Positions();
    std::set<std::pair<double, double>> distinct;
    for (size_t i = 0; i < positions.size(); ++i) {
        EXPECT_TRUE(OnTheDrive(epochs, &Epoch::latitude, positions[i].latitude) &&
                    OnTheDrive(epochs, &Epoch::longitude, positions[i].longitude))
            << "data event " << i << " at " << positions[i].latitude << ", "
            << positions[i].longitude << " is not on the drive";
        distinct.insert({positions[i].latitude, positions[i].longitude});
    }
    EXPECT_GE(distinct.size(), 3u) << "new positions came with data events";

    const std::vector<ULONG> states = watcher->States();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front(), static_cast<ULONG>(SENSOR_STATE_READY)) << "from no data to ready";
    EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(SENSOR_STATE_READY))
        << "silence alone changes no state";

    for (const PROPERTYKEY& key : kClearedWhenSilent) {
        EXPECT_EQ(DataField(key), R8(0.0));
    }
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES).vt, VT_R4) << "not cleared";
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_FIX_TYPE).vt, VT_I4) << "not cleared";

    EXPECT_EQ(Disconnect(), S_OK);
    EXPECT_EQ(Unsubscribe(), S_OK);
    watcher.reset();
    ExpectNothingLeftBehind();
}

}  // namespace
