// Throughput of the NMEA reader on a realistic mixed corpus: per epoch GGA, GSA, the GSV group,
// RMC and VTG, CR LF ended, as a receiver streams them. Reports sentences per second and heap
// allocations per sentence.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "nmea_parser.h"
#include "nmea_text.h"
#include "track/synthetic_track.h"

namespace {

std::atomic<long long> gAllocations{0};

}  // namespace

void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
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

namespace {

// The sentences of 600 epochs of the default synthetic drive, keeping GGA, GSA, GSV, RMC and VTG.
const std::vector<std::string>& MixedCorpus() {
    static const std::vector<std::string> corpus = [] {
        std::vector<std::string> lines;
        zntr::hotspot::SyntheticTrack track;
        for (int epoch = 0; epoch < 600; ++epoch) {
            for (const std::string& sentence : track.Next().sentences) {
                const std::string tag = sentence.substr(0, 6);
                if (tag == "$GPGGA" || tag == "$GPGSA" || tag == "$GPGSV" || tag == "$GPRMC" ||
                    tag == "$GPVTG") {
                    lines.push_back(sentence);
                }
            }
        }
        return lines;
    }();
    return corpus;
}

std::vector<std::wstring> WideCorpus() {
    std::vector<std::wstring> wide;
    for (const std::string& line : MixedCorpus()) {
        wide.push_back(AnsiTextToWide(line.c_str()));
    }
    return wide;
}

void ReportPerSentence(benchmark::State& state, long long sentences, long long allocations) {
    state.SetItemsProcessed(sentences);
    state.counters["allocs_per_sentence"] =
        benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(sentences));
}

// ParseNMEAData on wide lines, each passed by value as the line sink passes it.
void BM_ParseNMEAData(benchmark::State& state) {
    const std::vector<std::wstring> corpus = WideCorpus();
    cNMEAParser parser;
    long long sentences = 0;
    int decoded = 0;
    const long long allocationsBefore = gAllocations.load();
    for (auto _ : state) {
        for (const std::wstring& line : corpus) {
            decoded += parser.ParseNMEAData(line) != NMEA_NONE;
        }
        sentences += static_cast<long long>(corpus.size());
    }
    if (decoded != sentences) {
        state.SkipWithError("a sentence of the corpus was not decoded");
    }
    ReportPerSentence(state, sentences, gAllocations.load() - allocationsBefore);
}
BENCHMARK(BM_ParseNMEAData);

// The same from the received bytes: the conversion to wide text, then the reader.
void BM_ParseNMEADataFromBytes(benchmark::State& state) {
    const std::vector<std::string>& corpus = MixedCorpus();
    cNMEAParser parser;
    long long sentences = 0;
    const long long allocationsBefore = gAllocations.load();
    for (auto _ : state) {
        for (const std::string& line : corpus) {
            benchmark::DoNotOptimize(parser.ParseNMEAData(AnsiTextToWide(line.c_str())));
        }
        sentences += static_cast<long long>(corpus.size());
    }
    ReportPerSentence(state, sentences, gAllocations.load() - allocationsBefore);
}
BENCHMARK(BM_ParseNMEADataFromBytes);

// The checksum test alone, the one step every sentence pays in full.
void BM_VerifyChecksum(benchmark::State& state) {
    const std::vector<std::wstring> corpus = WideCorpus();
    cNMEAParser parser;
    long long sentences = 0;
    for (auto _ : state) {
        for (const std::wstring& line : corpus) {
            benchmark::DoNotOptimize(parser.VerifyChecksum(line));
        }
        sentences += static_cast<long long>(corpus.size());
    }
    state.SetItemsProcessed(sentences);
}
BENCHMARK(BM_VerifyChecksum);

}  // namespace

BENCHMARK_MAIN();
