// Instructions per sentence, the figure that does not move with the machine's load: runs one
// decoder over a slice of the mixed corpus with callgrind's instrumentation switched on around
// the loop only, so that `valgrind --tool=callgrind --instr-atstart=no` counts the decoding and
// nothing of the set-up. The corpus runs once before that, so the count is the steady state.
//
//   zntr_bench_instructions reader|bytes|sink|plain [LINES]
//
// reader: ParseNMEAData given the wide lines (each passed by value, as the line sink does);
// bytes: the same from the received bytes (AnsiTextToWide first); sink: ProcessNMEALine on a
// live sensor; plain: the plain C decoder. LINES defaults to 100,000. Prints the lines run and
// the heap allocations (operator new) made inside the measured loop.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "bench_sensor.h"
#include "debug_log.h"
#include "mixed_corpus.h"
#include "nmea_line_sink.h"
#include "nmea_parser.h"
#include "nmea_text.h"
#include "plain_decoder.h"

namespace {

// Runs `pass` once unmeasured and once measured; returns the allocations of the measured one.
long long Measure(const std::function<void()>& pass) {
    pass();
    const long long before = zntr::bench::NewCount();
    CALLGRIND_START_INSTRUMENTATION;
    pass();
    CALLGRIND_STOP_INSTRUMENTATION;
    return zntr::bench::NewCount() - before;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::size_t count = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100000;
    if (count == 0 || (mode != "reader" && mode != "bytes" && mode != "sink" && mode != "plain")) {
        std::fprintf(stderr, "usage: %s reader|bytes|sink|plain [LINES]\n", argv[0]);
        return 2;
    }
    gEnableLog = 0;
    const std::vector<std::string> corpus = zntr::bench::MixedCorpus(false, count);
    long long decoded = 0;
    long long allocations = 0;
    if (mode == "reader" || mode == "bytes") {
        std::vector<std::wstring> wide;
        for (const std::string& line : corpus) {
            wide.push_back(AnsiTextToWide(line.c_str()));
        }
        cNMEAParser parser;
        allocations = Measure([&] {
            decoded = 0;
            for (std::size_t i = 0; i < corpus.size(); ++i) {
                const NMEASentenceType code =
                    mode == "reader" ? parser.ParseNMEAData(wide[i])
                                     : parser.ParseNMEAData(AnsiTextToWide(corpus[i].c_str()));
                decoded += code != NMEA_NONE;
            }
        });
    } else if (mode == "sink") {
        zntr::bench::BenchSensor sensor(false);
        if (!sensor.ok()) {
            std::fprintf(stderr, "the sensor could not be initialised\n");
            return 1;
        }
        allocations = Measure([&] {
            for (const std::string& line : corpus) {
                ProcessNMEALine(line.c_str());
            }
        });
        decoded = static_cast<long long>(corpus.size());
    } else {
        plain_fix fix{};
        allocations = Measure([&] {
            decoded = 0;
            for (const std::string& line : corpus) {
                decoded += plain_decode(line.data(), line.size(), &fix) != PLAIN_NONE;
            }
        });
    }
    if (decoded != static_cast<long long>(corpus.size())) {
        std::fprintf(stderr, "%lld of %zu lines decoded\n", decoded, corpus.size());
        return 1;
    }
    std::printf("lines %zu allocations %lld\n", corpus.size(), allocations);
    return 0;
}
