// Golden files: each capture in tests/data/fix/*.nmea has its expected `zntr decode --fix`
// output beside it (*.fix.jsonl), and each in tests/data/fields/*.nmea its `zntr decode --fields`
// output (*.fields.jsonl), reviewed by hand. Set ZNTR_REBUILD_GOLDEN=1 to write the outputs anew
// instead of comparing; review the diff before committing it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

namespace {

namespace fs = std::filesystem;

// A folder of captures and the decode mode its golden files pin.
struct GoldenMode {
    std::string folder;     // under tests/data; also the golden files' suffix
    std::string arguments;  // of zntr decode
};

const GoldenMode kModes[] = {
    {"fix", "--fix"},
    // A fixed date keeps the timestamps the same whatever day the tests run.
    {"fields", "--fields --date 2024-03-23"},
};

struct GoldenCapture {
    GoldenMode mode;
    std::string name;
};

void PrintTo(const GoldenCapture& capture, std::ostream* out) {
    *out << capture.mode.folder << "/" << capture.name;
}

std::vector<GoldenCapture> GoldenCaptures() {
    std::vector<GoldenCapture> captures;
    for (const GoldenMode& mode : kModes) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(ZNTR_TEST_DATA) / mode.folder)) {
            if (entry.path().extension() == ".nmea") {
                names.push_back(entry.path().stem().string());
            }
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            captures.push_back({mode, name});
        }
    }
    return captures;
}

class GoldenTest : public ::testing::TestWithParam<GoldenCapture> {};

TEST_P(GoldenTest, DecodeMatchesTheReviewedOutput) {
    const GoldenMode& mode = GetParam().mode;
    const fs::path folder = fs::path(ZNTR_TEST_DATA) / mode.folder;
    const fs::path capture = folder / (GetParam().name + ".nmea");
    const fs::path golden = folder / (GetParam().name + "." + mode.folder + ".jsonl");
    const auto result = zntr::test::RunCommand(ZNTR_BINARY " decode " + mode.arguments + " " +
                                               zntr::test::Quoted(capture));
    ASSERT_EQ(result.status, 0);

    if (const char* rebuild = std::getenv("ZNTR_REBUILD_GOLDEN"); rebuild && *rebuild == '1') {
        std::ofstream(golden, std::ios::binary) << result.output;
        GTEST_SKIP() << "rewrote " << golden;
    }
    const std::vector<std::string> expected =
        zntr::test::SplitLines(zntr::test::ReadTextFile(golden.string()));
    const std::vector<std::string> actual = zntr::test::SplitLines(result.output);
    ASSERT_FALSE(expected.empty()) << golden << " is missing or empty";
    for (size_t i = 0; i < std::min(expected.size(), actual.size()); ++i) {
        ASSERT_EQ(actual[i], expected[i])
            << golden << ": first difference at output line " << i + 1;
    }
    EXPECT_EQ(actual.size(), expected.size()) << golden << ": number of output lines";
}

INSTANTIATE_TEST_SUITE_P(Captures, GoldenTest, ::testing::ValuesIn(GoldenCaptures()),
                         [](const ::testing::TestParamInfo<GoldenCapture>& param) {
                             std::string name = param.param.mode.folder + "_" + param.param.name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
