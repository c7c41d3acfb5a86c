// The fix goldens: each capture run through the NMEA decoding in process, as `zntr decode --fix`
// runs it, and compared with its reviewed output. tests/data/fix holds cases grouped by theme with
// the whole fix record after each line; captures/ holds drives of the track generator, bytes
// recorded from the simulator and, read from the shared test data folder when it is there, the
// captures of real receivers, with what each line changed (`zntr decode --fix --changes`).
#include <gtest/gtest.h>

#include <filesystem>

#include "decode_fix.h"
#include "golden_captures.h"

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

INSTANTIATE_TEST_SUITE_P(Captures, FixGolden, testing::ValuesIn(FixCaptures()),
                         [](const auto& test) { return test.param.capture.name; });

}  // namespace
