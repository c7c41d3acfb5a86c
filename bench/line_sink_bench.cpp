// Throughput of the line sink, ProcessNMEALine, into an initialised sensor: the reader, the copy
// of the fresh fix-record values and the data-field writes. The corpus is the NMEA reader's mixed
// one (per epoch GGA, GSA, the GSV group, RMC and VTG); a second run adds the PQXFI sentence and
// the receive loop's "Dummy" pass with a subscribed client, so that the state machine and the
// data event run too. Reports lines per second and heap allocations per line: the C++ ones
// (operator new), and, outside the sanitizer builds, all of them (every malloc: the C++ ones plus
// the task memory of the collections and the PROPVARIANTs).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "debug_log.h"
#include "framework_device.h"
#include "nmea_line_sink.h"
#include "sensor_ddi.h"
#include "standin/com_helpers.h"
#include "track/synthetic_track.h"

namespace {

std::atomic<long long> gNews{0};
std::atomic<long long> gMallocs{0};

}  // namespace

void* operator new(std::size_t size) {
    gNews.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Counts every malloc of the process, the platform library's included, and hands it to glibc.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) {
    gMallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
constexpr bool kCountsMallocs = true;
#else
constexpr bool kCountsMallocs = false;
#endif

namespace {

std::vector<std::string> Corpus(bool withPqxfiAndDummy) {
    std::vector<std::string> lines;
    zntr::hotspot::SyntheticTrack track;
    for (int epoch = 0; epoch < 600; ++epoch) {
        for (const std::string& sentence : track.Next().sentences) {
            const std::string tag = sentence.substr(0, 6);
            if (tag == "$GPGGA" || tag == "$GPGSA" || tag == "$GPGSV" || tag == "$GPRMC" ||
                tag == "$GPVTG" || (withPqxfiAndDummy && tag == "$PQXFI")) {
                lines.push_back(sentence);
                if (withPqxfiAndDummy && lines.size() % 7 == 6) {
                    lines.push_back("Dummy");
                }
            }
        }
    }
    return lines;
}

// One initialised sensor in gpSensorDDI for as long as it lives.
class BenchSensor {
  public:
    explicit BenchSensor(bool subscribed) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", {}, device_.GetAddressOf());
        cSensorDDI::CreateInstance(&gpSensorDDI);
        gpSensorDDI->AddRef();
        ok_ = SUCCEEDED(gpSensorDDI->Initialize(L"ROOT\\ZNTR\\0000", device_.Get()));
        dataEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        stateEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        gpSensorDDI->mhDataEvent = dataEvent_;
        gpSensorDDI->mhStateEvent = stateEvent_;
        gpSensorDDI->mSubscriberCount = subscribed ? 1 : 0;
    }
    ~BenchSensor() {
        gpSensorDDI->Release();
        gpSensorDDI = nullptr;
        CloseHandle(dataEvent_);
        CloseHandle(stateEvent_);
        device_ = nullptr;
        CoUninitialize();
    }
    BenchSensor(const BenchSensor&) = delete;
    BenchSensor& operator=(const BenchSensor&) = delete;
    bool ok() const { return ok_; }

  private:
    Microsoft::WRL::ComPtr<IWDFDevice> device_;
    HANDLE dataEvent_ = nullptr;
    HANDLE stateEvent_ = nullptr;
    bool ok_ = false;
};

void RunLineSink(benchmark::State& state, bool withPqxfiAndDummy) {
    gEnableLog = 0;  // as configured by default: the log costs nothing
    const std::vector<std::string> corpus = Corpus(withPqxfiAndDummy);
    BenchSensor sensor(withPqxfiAndDummy);
    if (!sensor.ok()) {
        state.SkipWithError("the sensor could not be initialised");
        return;
    }
    long long lines = 0;
    const long long newsBefore = gNews.load();
    const long long mallocsBefore = gMallocs.load();
    for (auto _ : state) {
        for (const std::string& line : corpus) {
            ProcessNMEALine(line.c_str());
        }
        lines += static_cast<long long>(corpus.size());
    }
    state.SetItemsProcessed(lines);
    state.counters["news_per_line"] = benchmark::Counter(
        static_cast<double>(gNews.load() - newsBefore) / static_cast<double>(lines));
    if (kCountsMallocs) {
        state.counters["mallocs_per_line"] = benchmark::Counter(
            static_cast<double>(gMallocs.load() - mallocsBefore) / static_cast<double>(lines));
    }
    // Only the PQXFI update moves the state: the mixed corpus leaves the sensor without data.
    const ULONG expected = withPqxfiAndDummy ? SENSOR_STATE_READY : SENSOR_STATE_NO_DATA;
    if (gpSensorDDI->mSensorState != expected) {
        state.SkipWithError("the sensor state is not the one the corpus leads to");
    }
}

void BM_ProcessNMEALine(benchmark::State& state) {
    RunLineSink(state, false);
}
BENCHMARK(BM_ProcessNMEALine);

void BM_ProcessNMEALineWithPqxfiAndDummy(benchmark::State& state) {
    RunLineSink(state, true);
}
BENCHMARK(BM_ProcessNMEALineWithPqxfiAndDummy);

}  // namespace

BENCHMARK_MAIN();
