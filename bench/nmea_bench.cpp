// Throughput of the NMEA reader on a realistic mixed corpus: per epoch GGA, GSA, the GSV group,
// RMC and VTG, CR LF ended, as a receiver streams them. Reports sentences per second and heap
// allocations per sentence.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "allocation_counter.h"
#include "mixed_corpus.h"
#include "nmea_parser.h"
#include "nmea_text.h"

namespace {

std::vector<std::wstring> WideCorpus() {
    std::vector<std::wstring> wide;
    for (const std::string& line : zntr::bench::MixedCorpus()) {
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
    const long long allocationsBefore = zntr::bench::NewCount();
    for (auto _ : state) {
        for (const std::wstring& line : corpus) {
            decoded += parser.ParseNMEAData(line) != NMEA_NONE;
        }
        sentences += static_cast<long long>(corpus.size());
    }
    if (decoded != sentences) {
        state.SkipWithError("a sentence of the corpus was not decoded");
    }
    ReportPerSentence(state, sentences, zntr::bench::NewCount() - allocationsBefore);
}
BENCHMARK(BM_ParseNMEAData);

// The same from the received bytes: the conversion to wide text, then the reader.
void BM_ParseNMEADataFromBytes(benchmark::State& state) {
    const std::vector<std::string> corpus = zntr::bench::MixedCorpus();
    cNMEAParser parser;
    long long sentences = 0;
    const long long allocationsBefore = zntr::bench::NewCount();
    for (auto _ : state) {
        for (const std::string& line : corpus) {
            benchmark::DoNotOptimize(parser.ParseNMEAData(AnsiTextToWide(line.c_str())));
        }
        sentences += static_cast<long long>(corpus.size());
    }
    ReportPerSentence(state, sentences, zntr::bench::NewCount() - allocationsBefore);
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
