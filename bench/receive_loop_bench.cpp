// The sensor's receive thread, measured against the hotspot simulator on loopback (the network
// map sends the driver's endpoints there; the guard keeps everything else in):
//  - CPU time the thread uses per minute, read with GetThreadTimes, on a 1 Hz drive and on a
//    stream that stays silent after its first sentence;
//  - the time from the last client's disconnection to the thread having ended (the
//    disconnection returns once it has), with the thread pausing between 1 Hz epochs, busy with
//    a fast stream, or waiting for a hotspot that never answers.
// The runs take real time (ten seconds for each CPU figure); run with scripts/run-bench
// --benchmark_filter=ReceiveThread, or the program itself.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "debug_log.h"
#include "framework_device.h"
#include "sensor_ddi.h"
#include "simulator/simulator.h"
#include "standin/com_helpers.h"
#include "standin/network_control.h"
#include "track/synthetic_track.h"

namespace {

using Clock = std::chrono::steady_clock;
using zntr::hotspot::HotspotSimulator;
using zntr::hotspot::SimulatorOptions;

constexpr double kFiletimeTicksPerSecond = 1e7;

// One initialised sensor in gpSensorDDI, a hotspot and the map to it, for as long as it lives.
class LiveSensor {
  public:
    explicit LiveSensor(SimulatorOptions options) {
        options.answer.address = "192.168.1.1";
        options.answer.port = 10110;
        hotspot_ = std::make_unique<HotspotSimulator>(std::move(options));
        network_ =
            std::make_unique<zntr::platform::ScopedNetworkSettings>(zntr::platform::NetworkSettings{
                "gps-hotspot.internal=192.168.1.1;192.168.1.1:80=127.0.0.1:" +
                    std::to_string(hotspot_->http_port()) +
                    ";192.168.1.1:10110=127.0.0.1:" + std::to_string(hotspot_->stream_port()),
                false});
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", {}, device_.GetAddressOf());
        cSensorDDI::CreateInstance(&gpSensorDDI);
        gpSensorDDI->AddRef();
        ok_ = SUCCEEDED(gpSensorDDI->Initialize(L"ROOT\\ZNTR\\0000", device_.Get()));
    }
    ~LiveSensor() {
        gpSensorDDI->EndFeed();
        gpSensorDDI->Release();
        gpSensorDDI = nullptr;
        device_ = nullptr;
        CoUninitialize();
        network_.reset();
        hotspot_.reset();
    }
    LiveSensor(const LiveSensor&) = delete;
    LiveSensor& operator=(const LiveSensor&) = delete;

    bool ok() const { return ok_; }
    HRESULT Connect() { return gpSensorDDI->OnClientConnect(nullptr, id_.data()); }
    HRESULT Disconnect() { return gpSensorDDI->OnClientDisconnect(nullptr, id_.data()); }
    // Kernel plus user time of the running receive thread, in seconds.
    double ThreadCpuSeconds() {
        FILETIME creation, exit, kernel, user;
        if (!GetThreadTimes(gpSensorDDI->mhRecvThread.load(), &creation, &exit, &kernel, &user)) {
            return -1;
        }
        auto ticks = [](const FILETIME& t) {
            return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                       t.dwLowDateTime);
        };
        return (ticks(kernel) + ticks(user)) / kFiletimeTicksPerSecond;
    }

  private:
    std::unique_ptr<HotspotSimulator> hotspot_;
    std::unique_ptr<zntr::platform::ScopedNetworkSettings> network_;
    Microsoft::WRL::ComPtr<IWDFDevice> device_;
    std::wstring id_ = SENSOR_OBJECT_ID;
    bool ok_ = false;
};

SimulatorOptions Drive(double period) {
    SimulatorOptions options;
    options.track.period_seconds = period;
    return options;
}

// One sentence, then nothing for a thousand seconds.
SimulatorOptions SilentAfterOneSentence() {
    SimulatorOptions options;
    options.capture = zntr::hotspot::RenderCapture({}, 1);
    options.capture_lines_per_second = 0.001;
    return options;
}

SimulatorOptions NeverAnswers() {
    SimulatorOptions options;
    options.http_fault = zntr::hotspot::HttpFault::kSilent;
    return options;
}

void ReceiveThreadCpu(benchmark::State& state, SimulatorOptions hotspot) {
    gEnableLog = 0;
    const auto seconds = std::chrono::seconds(state.range(0));
    double cpuSeconds = 0;
    for (auto _ : state) {
        LiveSensor sensor(hotspot);
        if (!sensor.ok() || FAILED(sensor.Connect())) {
            state.SkipWithError("the sensor could not be started");
            return;
        }
        std::this_thread::sleep_for(seconds);
        cpuSeconds = sensor.ThreadCpuSeconds();
        sensor.Disconnect();
        state.SetIterationTime(static_cast<double>(seconds.count()));
    }
    state.counters["cpu_ms_per_minute"] =
        benchmark::Counter(cpuSeconds * 1000.0 * 60.0 / static_cast<double>(seconds.count()));
}

// Each iteration connects, lets the thread run for a while that differs from one iteration to
// the next (so that it is caught at different points of its loop), and times the disconnection.
void DisconnectToThreadEnded(benchmark::State& state, SimulatorOptions hotspot) {
    gEnableLog = 0;
    LiveSensor sensor(hotspot);
    if (!sensor.ok()) {
        state.SkipWithError("the sensor could not be initialised");
        return;
    }
    double longest = 0;
    int iteration = 0;
    for (auto _ : state) {
        sensor.Connect();
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + (iteration++ * 277) % 1000));
        const auto start = Clock::now();
        sensor.Disconnect();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        longest = std::max(longest, elapsed);
    }
    state.counters["longest_ms"] = benchmark::Counter(longest * 1000.0);
}

BENCHMARK_CAPTURE(ReceiveThreadCpu, Stream1Hz, Drive(1.0))
    ->Arg(10)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(ReceiveThreadCpu, SilentStream, SilentAfterOneSentence())
    ->Arg(10)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(DisconnectToThreadEnded, Stream1Hz, Drive(1.0))
    ->Iterations(12)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisconnectToThreadEnded, Stream50Hz, Drive(0.02))
    ->Iterations(12)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisconnectToThreadEnded, HotspotNeverAnswers, NeverAnswers())
    ->Iterations(12)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
