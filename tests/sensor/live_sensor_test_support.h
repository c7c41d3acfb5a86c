// The live sensor's world, in process: the hotspot simulator on loopback, a network map that
// sends the driver's endpoints (the hotspot's host name, 192.168.1.1:80 and the stream endpoint
// the discovery names) to it, one initialised sensor in gpSensorDDI with its data and state
// events, and clients that connect and subscribe through the sensor's callbacks. The guard stays
// closed: whatever the map misses fails on loopback's side of the guard, nothing leaves.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sensor_test_support.h"
#include "simulator/simulator.h"
#include "standin/network_control.h"

namespace zntr::test {

// The threads and open descriptors of this process.
struct ProcessCounts {
    size_t threads = 0;
    size_t descriptors = 0;

    static ProcessCounts Now() {
        auto count = [](const char* folder) {
            size_t entries = 0;
            for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
                ++entries;
            }
            return entries;
        };
        // The descriptor of the listing itself is open while /proc/self/fd is read, and is
        // counted every time alike.
        return {count("/proc/self/task"), count("/proc/self/fd")};
    }
    bool operator==(const ProcessCounts&) const = default;
};

inline void PrintTo(const ProcessCounts& counts, std::ostream* out) {
    *out << counts.threads << " threads, " << counts.descriptors << " descriptors";
}

// The hotspot's usual stream endpoint, as the discovery answer names it; the map sends it to the
// simulator's stream port.
constexpr int kHotspotStreamPort = 10110;

// A synthetic drive at 60 knots with one epoch every `period` seconds.
inline hotspot::SimulatorOptions StreamingHotspot(double period = 0.05) {
    hotspot::SimulatorOptions options;
    options.answer.address = "192.168.1.1";
    options.answer.port = kHotspotStreamPort;
    options.track.period_seconds = period;
    options.track.speed_knots = 60.0;
    return options;
}

class LiveSensorTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        ASSERT_EQ(Initialize(), S_OK);
        ConnectEvents(0);
        // The thread sanitizer's runtime starts a thread of its own along with the first thread
        // of the process; one thread made and joined first puts it in the baseline.
        std::thread([] {}).join();
        baseline_ = ProcessCounts::Now();
    }

    // As the device's teardown does: the feed ends before the sensor is released.
    void TearDown() override {
        if (gpSensorDDI != nullptr) {
            Sensor().EndFeed();
        }
        StopHotspot();
        SensorTest::TearDown();
    }

    hotspot::HotspotSimulator& StartHotspot(hotspot::SimulatorOptions options) {
        StopHotspot();
        hotspot_ = std::make_unique<hotspot::HotspotSimulator>(std::move(options));
        const std::string http = std::to_string(hotspot_->http_port());
        const std::string stream = std::to_string(hotspot_->stream_port());
        network_ = std::make_unique<platform::ScopedNetworkSettings>(platform::NetworkSettings{
            "gps-hotspot.internal=192.168.1.1;192.168.1.1:80=127.0.0.1:" + http +
                ";192.168.1.1:" + std::to_string(kHotspotStreamPort) + "=127.0.0.1:" + stream,
            false});
        return *hotspot_;
    }
    void StopHotspot() {
        network_.reset();
        hotspot_.reset();
    }

    // The client callbacks as the class extension calls them.
    HRESULT Connect() { return Sensor().OnClientConnect(nullptr, objectId_.data()); }
    HRESULT Disconnect() { return Sensor().OnClientDisconnect(nullptr, objectId_.data()); }
    HRESULT Subscribe() { return Sensor().OnClientSubscribeToEvents(nullptr, objectId_.data()); }
    HRESULT Unsubscribe() {
        return Sensor().OnClientUnsubscribeFromEvents(nullptr, objectId_.data());
    }

    bool FeedThreadHeld() { return Sensor().mhRecvThread.load() != nullptr; }

    // Polls the condition every few milliseconds until it holds or the time is up.
    template <typename Condition>
    static bool WaitFor(Condition condition, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // With the simulator stopped (its threads joined, its sockets closed) the process is back
    // where it was before the test unless the driver left a thread, a socket or a thread handle
    // behind. A thread the platform ended still takes a moment to leave the system.
    void ExpectNothingLeftBehind() {
        StopHotspot();
        WaitFor([&] { return ProcessCounts::Now() == baseline_; }, std::chrono::seconds(15));
        EXPECT_EQ(ProcessCounts::Now(), baseline_);
        EXPECT_EQ(Sensor().mhRecvThread.load(), nullptr);
        EXPECT_EQ(Sensor().mSocket, 0u);
        EXPECT_EQ(Sensor().mRecvBuffer.mpData, nullptr);
    }

    std::wstring objectId_ = SENSOR_OBJECT_ID;
    ProcessCounts baseline_;
    std::unique_ptr<hotspot::HotspotSimulator> hotspot_;
    std::unique_ptr<platform::ScopedNetworkSettings> network_;
};

}  // namespace zntr::test
