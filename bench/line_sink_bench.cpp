// Throughput of the line sink, ProcessNMEALine, into an initialised sensor: the reader, the copy
// of the fresh fix-record values and the data-field writes. The corpus is the NMEA reader's mixed
// one (per epoch GGA, GSA, the GSV group, RMC and VTG); a second run adds the PQXFI sentence and
// the receive loop's "Dummy" pass with a subscribed client, so that the state machine and the
// data event run too. Reports lines per second and heap allocations per line: the C++ ones
// (operator new), and, outside the sanitizer builds, all of them (every malloc: the C++ ones plus
// the task memory of the collections and the PROPVARIANTs).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "allocation_counter.h"
#include "bench_sensor.h"
#include "debug_log.h"
#include "mixed_corpus.h"
#include "nmea_line_sink.h"
#include "sensor_ddi.h"

namespace {

void RunLineSink(benchmark::State& state, bool withPqxfiAndDummy) {
    gEnableLog = 0;  // as configured by default: the log costs nothing
    const std::vector<std::string> corpus = zntr::bench::MixedCorpus(withPqxfiAndDummy);
    zntr::bench::BenchSensor sensor(withPqxfiAndDummy);
    if (!sensor.ok()) {
        state.SkipWithError("the sensor could not be initialised");
        return;
    }
    long long lines = 0;
    const long long newsBefore = zntr::bench::NewCount();
    const long long mallocsBefore = zntr::bench::MallocCount();
    for (auto _ : state) {
        for (const std::string& line : corpus) {
            ProcessNMEALine(line.c_str());
        }
        lines += static_cast<long long>(corpus.size());
    }
    state.SetItemsProcessed(lines);
    state.counters["news_per_line"] = benchmark::Counter(
        static_cast<double>(zntr::bench::NewCount() - newsBefore) / static_cast<double>(lines));
    if (zntr::bench::CountsMallocs()) {
        state.counters["mallocs_per_line"] =
            benchmark::Counter(static_cast<double>(zntr::bench::MallocCount() - mallocsBefore) /
                               static_cast<double>(lines));
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
