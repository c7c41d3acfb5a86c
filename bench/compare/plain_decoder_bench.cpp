// The anchor beside the reader's benchmark: the plain C decoder on the same mixed corpus (per
// epoch GGA, GSA, the GSV group, RMC and VTG, CR LF ended), one sentence after the other on one
// core. Reports sentences per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "mixed_corpus.h"
#include "plain_decoder.h"

namespace {

void BM_PlainDecoder(benchmark::State& state) {
    const std::vector<std::string> corpus = zntr::bench::MixedCorpus();
    plain_fix fix{};
    long long sentences = 0;
    long long decoded = 0;
    for (auto _ : state) {
        for (const std::string& line : corpus) {
            decoded += plain_decode(line.data(), line.size(), &fix) != PLAIN_NONE;
        }
        benchmark::DoNotOptimize(fix);
        sentences += static_cast<long long>(corpus.size());
    }
    if (decoded != sentences) {
        state.SkipWithError("a sentence of the corpus was not decoded");
    }
    state.SetItemsProcessed(sentences);
}
BENCHMARK(BM_PlainDecoder);

}  // namespace
