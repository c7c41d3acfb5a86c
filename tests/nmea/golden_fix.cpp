// The fix goldens: each capture run through the NMEA decoding in process, as `zntr decode --fix`
// runs it, and compared with its reviewed output. tests/data/fix holds cases grouped by theme with
// the whole fix record after each line; captures/ holds drives of the track generator, bytes
// recorded from the simulator and, read from the shared test data folder when it is there, the
// captures of real receivers, with what each line changed (`zntr decode --fix --changes`).
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>

#include "decode_fix.h"
#include "golden_captures.h"
#include "json_output.h"

namespace {

using zntr::test::GoldenCapture;

const std::filesystem::path kData = ZNTR_TEST_DATA;
const std::filesystem::path kReceivers = ZNTR_SHARED_TESTDATA;

struct FixCapture {
    GoldenCapture capture;
    bool changes;  // the --changes form
};

void PrintTo(const FixCapture& fix, std::ostream* out) {
    PrintTo(fix.capture, out);
}

std::vector<FixCapture> FixCaptures() {
    std::vector<FixCapture> captures;
    const auto add = [&](const std::string& name, const std::filesystem::path& folder,
                         const std::string& extension, const std::filesystem::path& goldens,
                         bool changes) {
        for (GoldenCapture& capture :
             zntr::test::GoldenCaptures(name, folder, extension, goldens, ".fix.jsonl")) {
            captures.push_back({std::move(capture), changes});
        }
    };
    add("fix", kData / "fix", ".nmea", kData / "fix", false);
    add("synthetic", kData / "captures/synthetic", ".nmea", kData / "captures/synthetic", true);
    add("recorded", kData / "captures/recorded", ".nmea", kData / "captures/recorded", true);
    add("receivers", kReceivers, ".log", kData / "captures/receivers", true);
    return captures;
}

class FixGolden : public testing::TestWithParam<FixCapture> {};

TEST_P(FixGolden, DecodesAsReviewed) {
    const FixCapture& fix = GetParam();
    if (fix.capture.name.starts_with("receivers_") && !std::filesystem::is_directory(kReceivers)) {
        GTEST_SKIP() << "the receivers' captures are not here: " << kReceivers;
    }
    const std::string differs =
        zntr::test::CheckGoldenCapture(fix.capture, [&](std::FILE* file, const auto& write) {
            return zntr::tools::RunDecodeFix(file, {fix.changes}, write);
        });
    EXPECT_EQ(differs, "");
}

// Integral values take a quicker way than the general conversion; around 2^53, at 0, -0 and
// their neighbours the full form must still write printf's %.17g and the short form must read
// back as the value.
TEST(FixNumbers, IntegralValuesAndTheirNeighboursWriteAsTheGeneralConversion) {
    std::mt19937_64 random(16);
    for (int i = 0; i < 20000; ++i) {
        const auto bits = random() >> (i % 64);
        const double base =
            std::ldexp(static_cast<double>(bits), i % 8) * ((i / 64) % 2 != 0 ? -1 : 1);
        for (const double value :
             {base, std::nextafter(base, 1e300), std::nextafter(base, -1e300)}) {
            char expected[32];
            const auto end =
                std::to_chars(expected, expected + 32, value, std::chars_format::general, 17).ptr;
            std::string full;
            std::string shortest;
            zntr::tools::AppendJsonDouble(full, value);
            zntr::tools::AppendJsonShortest(shortest, value);
            ASSERT_EQ(full, std::string(expected, end)) << value;
            double back = 1;
            std::from_chars(shortest.data(), shortest.data() + shortest.size(), back);
            ASSERT_EQ(back, value) << shortest;
            ASSERT_EQ(shortest.find_first_of(".e") == std::string::npos,
                      value == std::trunc(value) && std::fabs(value) < 1e17)
                << shortest;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Captures, FixGolden, testing::ValuesIn(FixCaptures()),
                         [](const auto& test) { return test.param.capture.name; });

}  // namespace
