// The feed under load, for the sanitizers above all: many cycles in which clients connect and
// leave on threads of their own, overlapping, while other threads subscribe and unsubscribe,
// read the data fields and the state, and run the power hooks. Cycles end the receive thread
// wherever it happens to be (discovering, connecting, pausing, receiving, waiting for the sensor
// lock); against a hotspot with GPS disabled the thread gives up while clients leave. Afterwards
// no thread, socket, handle or buffer of the feed is left.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "live_sensor_test_support.h"

namespace {

using namespace std::chrono_literals;
using zntr::hotspot::SimulatorOptions;
using zntr::test::ComPtr;
using zntr::test::LiveSensorTest;
using zntr::test::PropVariant;
using zntr::test::StreamingHotspot;

// How long the clients of a cycle stay: mostly briefly, now and then long enough for the stream
// to flow (the loop's first receive usually finds nothing and pauses a second).
std::chrono::milliseconds HoldTime(int cycle, int client) {
    if (cycle % 8 == 7 && client == 0) {
        return 1300ms;
    }
    return std::chrono::milliseconds((cycle * 7 + client * 13) % 45);
}

TEST_F(LiveSensorTest, ManyCyclesOfClientsLeaveNoThreadSocketOrBufferBehind) {
    SimulatorOptions streaming = StreamingHotspot(0.02);
    SimulatorOptions disabled = StreamingHotspot();
    disabled.answer.gps_enable = "0";
    struct Phase {
        const char* legend;
        SimulatorOptions hotspot;
        int cycles;
    } const phases[] = {
        {"streaming", streaming, 24},
        {"GPS disabled: the thread gives up", disabled, 16},
    };

    std::atomic<bool> running{true};
    std::atomic<int> refusedSubscriptions{0};
    std::atomic<int> reads{0};
    std::thread subscriber([&] {
        while (running) {
            if (Subscribe() != S_OK || Unsubscribe() != S_OK) {
                ++refusedSubscriptions;
            }
        }
    });
    std::thread reader([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ComPtr<IPortableDeviceValues> fields;
            CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IPortableDeviceValues,
                             reinterpret_cast<void**>(fields.GetAddressOf()));
            while (running) {
                fields->Clear();
                PropVariant state;
                if (SUCCEEDED(gpSensorDDI->CopyDataFieldValues(fields.Get())) &&
                    SUCCEEDED(gpSensorDDI->GetPropertyValue(SENSOR_PROPERTY_STATE, &state))) {
                    ++reads;
                }
            }
        }
        CoUninitialize();
    });
    std::thread power([&] {
        while (running) {
            gpSensorDDI->PrepareToSleep();
            gpSensorDDI->PrepareRemoval();
            std::this_thread::sleep_for(1ms);
        }
    });

    for (const Phase& phase : phases) {
        SCOPED_TRACE(phase.legend);
        // The map changes only while no client, and so no receive thread, is left.
        auto& hotspot = StartHotspot(phase.hotspot);
        for (int cycle = 0; cycle < phase.cycles; ++cycle) {
            std::vector<std::thread> clients;
            for (int client = 0; client < 3; ++client) {
                clients.emplace_back([&, cycle, client] {
                    EXPECT_EQ(Connect(), S_OK);
                    std::this_thread::sleep_for(HoldTime(cycle, client));
                    EXPECT_EQ(Disconnect(), S_OK);
                });
            }
            for (std::thread& client : clients) {
                client.join();
            }
            ASSERT_EQ(Sensor().mClientCount, 0u) << "cycle " << cycle;
            ASSERT_FALSE(FeedThreadHeld()) << "cycle " << cycle;
        }
        EXPECT_GT(hotspot.http_connections(), phase.cycles / 2) << "threads got to discovery";
    }
    // The long cycles streamed: the track's heading reached the sensor.
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES).vt, VT_R4);
    running = false;
    subscriber.join();
    reader.join();
    power.join();

    EXPECT_EQ(refusedSubscriptions.load(), 0);
    EXPECT_EQ(Sensor().mSubscriberCount, 0u);
    EXPECT_GT(reads.load(), 0);
    ExpectNothingLeftBehind();
}

}  // namespace
