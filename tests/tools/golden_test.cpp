// Golden files: each capture in tests/data/fix/*.nmea has its expected `zntr decode --fix`
// output beside it (*.fix.jsonl), reviewed by hand. Set ZNTR_REBUILD_GOLDEN=1 to write the
// outputs anew instead of comparing; review the diff before committing it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> GoldenCaptures() {
    std::vector<std::string> captures;
    for (const auto& entry : fs::directory_iterator(fs::path(ZNTR_TEST_DATA) / "fix")) {
        if (entry.path().extension() == ".nmea") {
            captures.push_back(entry.path().stem().string());
        }
    }
    std::sort(captures.begin(), captures.end());
    return captures;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

class GoldenTest : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenTest, DecodeFixMatchesTheReviewedOutput) {
    const fs::path folder = fs::path(ZNTR_TEST_DATA) / "fix";
    const fs::path capture = folder / (GetParam() + ".nmea");
    const fs::path golden = folder / (GetParam() + ".fix.jsonl");
    const auto result =
        zntr::test::RunCommand(ZNTR_BINARY " decode --fix " + zntr::test::Quoted(capture));
    ASSERT_EQ(result.status, 0);

    if (const char* rebuild = std::getenv("ZNTR_REBUILD_GOLDEN"); rebuild && *rebuild == '1') {
        std::ofstream(golden, std::ios::binary) << result.output;
        GTEST_SKIP() << "rewrote " << golden;
    }
    const std::vector<std::string> expected = Lines(ReadFile(golden));
    const std::vector<std::string> actual = Lines(result.output);
    ASSERT_FALSE(expected.empty()) << golden << " is missing or empty";
    for (size_t i = 0; i < std::min(expected.size(), actual.size()); ++i) {
        ASSERT_EQ(actual[i], expected[i])
            << GetParam() << ": first difference at output line " << i + 1;
    }
    EXPECT_EQ(actual.size(), expected.size()) << GetParam() << ": number of output lines";
}

INSTANTIATE_TEST_SUITE_P(Captures, GoldenTest, ::testing::ValuesIn(GoldenCaptures()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             std::string name = param.param;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
