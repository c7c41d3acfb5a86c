// Golden files: each capture has its expected `zntr decode` output, reviewed by hand, and each
// is one test. The folders:
// - tests/data/fix/*.nmea with *.fix.jsonl, tests/data/fields/*.nmea with *.fields.jsonl;
// - tests/data/captures/synthetic/ and captures/recorded/: drives of `zntr track` and bytes
//   recorded from the hotspot simulator with its stream faults, with *.fix.jsonl;
// - the real receivers' captures, read at test time from the shared test data folder (never
//   copied into the repository), with their outputs in tests/data/captures/receivers/. When
//   that folder is absent, these tests skip.
// The captures/ folders keep --fix output in a shorter form: per line, the members of the fix
// record that the line changed (all of them on the first line), so that a reviewer sees what each
// sentence did and the files stay small; satellites are written [PRN, Elevation, Azimuth, SNR].
// A capture without its golden file, or a golden file without its capture, fails. Set
// ZNTR_REBUILD_GOLDEN=1 to write the outputs anew instead of comparing; review the diff before
// committing it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "process.h"

namespace {

namespace fs = std::filesystem;

// A folder of captures and the decode mode its golden files pin.
struct GoldenMode {
    std::string name;       // the tests' name prefix
    fs::path captures;      // where the captures are
    std::string extension;  // of the captures
    fs::path goldens;       // where the golden files are: <capture name>.<suffix>.jsonl
    std::string suffix;     //
    std::string arguments;  // of zntr decode
    bool changes = false;   // keep only the fix record members each line changed
    bool external = false;  // the captures live outside the repository and may be absent
};

const fs::path kData = ZNTR_TEST_DATA;

const GoldenMode kModes[] = {
    {"fix", kData / "fix", ".nmea", kData / "fix", "fix", "--fix"},
    // A fixed date keeps the timestamps the same whatever day the tests run.
    {"fields", kData / "fields", ".nmea", kData / "fields", "fields", "--fields --date 2024-03-23"},
    {"synthetic", kData / "captures/synthetic", ".nmea", kData / "captures/synthetic", "fix",
     "--fix", true},
    {"recorded", kData / "captures/recorded", ".nmea", kData / "captures/recorded", "fix", "--fix",
     true},
    {"receivers", ZNTR_RECEIVER_CAPTURES, ".log", kData / "captures/receivers", "fix", "--fix",
     true, true},
};

struct GoldenCapture {
    GoldenMode mode;
    std::string name;

    fs::path Capture() const { return mode.captures / (name + mode.extension); }
    fs::path Golden() const { return mode.goldens / (name + "." + mode.suffix + ".jsonl"); }
};

void PrintTo(const GoldenCapture& capture, std::ostream* out) {
    *out << capture.mode.name << "/" << capture.name;
}

// The names of the files in `folder` that end in `ending`, without it.
std::set<std::string> NamesEndingIn(const fs::path& folder, const std::string& ending) {
    std::set<std::string> names;
    std::error_code absent;
    for (const auto& entry : fs::directory_iterator(folder, absent)) {
        const std::string file = entry.path().filename().string();
        if (file.size() > ending.size() && file.ends_with(ending)) {
            names.insert(file.substr(0, file.size() - ending.size()));
        }
    }
    return names;
}

// Every capture and every golden file: a name that has only one of the two is a test that fails.
std::vector<GoldenCapture> GoldenCaptures() {
    std::vector<GoldenCapture> captures;
    for (const GoldenMode& mode : kModes) {
        std::set<std::string> names = NamesEndingIn(mode.captures, mode.extension);
        names.merge(NamesEndingIn(mode.goldens, "." + mode.suffix + ".jsonl"));
        for (const std::string& name : names) {
            captures.push_back({mode, name});
        }
    }
    return captures;
}

// A list of objects (the satellites in view) as a list of their values' lists: [PRN, Elevation,
// Azimuth, SNR] instead of the named members, a third of the size.
nlohmann::ordered_json Compact(const nlohmann::ordered_json& value) {
    if (!value.is_array()) {
        return value;
    }
    nlohmann::ordered_json compact = nlohmann::ordered_json::array();
    for (const auto& element : value) {
        if (!element.is_object()) {
            compact.push_back(element);
            continue;
        }
        nlohmann::ordered_json values = nlohmann::ordered_json::array();
        for (const auto& member : element) {
            values.push_back(member);
        }
        compact.push_back(std::move(values));
    }
    return compact;
}

// `zntr decode --fix` output with each line's fix record cut down to the members that differ from
// the previous line's.
std::string FixChanges(const std::string& output) {
    std::string changes;
    nlohmann::ordered_json previous = nlohmann::ordered_json::object();
    for (const std::string& line : zntr::test::SplitLines(output)) {
        nlohmann::ordered_json record = nlohmann::ordered_json::parse(line);
        nlohmann::ordered_json changed = nlohmann::ordered_json::object();
        for (const auto& [member, value] : record["fix"].items()) {
            if (!previous.contains(member) || previous[member] != value) {
                changed[member] = Compact(value);
            }
        }
        previous = std::move(record["fix"]);
        nlohmann::ordered_json shown = {{"line", record["line"]}, {"code", record["code"]}};
        if (!changed.empty()) {
            shown["fix"] = std::move(changed);
        }
        if (!record["log"].empty()) {
            shown["log"] = std::move(record["log"]);
        }
        changes += shown.dump() + "\n";
    }
    return changes;
}

bool Rebuilding() {
    const char* rebuild = std::getenv("ZNTR_REBUILD_GOLDEN");
    return rebuild != nullptr && *rebuild == '1';
}

class GoldenTest : public ::testing::TestWithParam<GoldenCapture> {};

TEST_P(GoldenTest, DecodeMatchesTheReviewedOutput) {
    const GoldenCapture& param = GetParam();
    const fs::path capture = param.Capture();
    const fs::path golden = param.Golden();
    if (param.mode.external && !fs::is_directory(param.mode.captures)) {
        GTEST_SKIP() << "the receiver captures are not here: " << param.mode.captures;
    }
    ASSERT_TRUE(fs::exists(capture)) << golden << " has no capture " << capture;
    const auto result = zntr::test::RunCommand(ZNTR_BINARY " decode " + param.mode.arguments + " " +
                                               zntr::test::Quoted(capture));
    ASSERT_EQ(result.status, 0);
    const std::string output = param.mode.changes ? FixChanges(result.output) : result.output;

    if (Rebuilding()) {
        std::ofstream(golden, std::ios::binary) << output;
        GTEST_SKIP() << "rewrote " << golden;
    }
    const std::vector<std::string> expected =
        zntr::test::SplitLines(zntr::test::ReadTextFile(golden.string()));
    const std::vector<std::string> actual = zntr::test::SplitLines(output);
    // An empty golden file is an answer too: a capture the decoder finds no fix in.
    ASSERT_TRUE(fs::exists(golden)) << capture << " has no golden file " << golden;
    for (size_t i = 0; i < std::min(expected.size(), actual.size()); ++i) {
        ASSERT_EQ(actual[i], expected[i])
            << golden << ": first difference at output line " << i + 1;
    }
    EXPECT_EQ(actual.size(), expected.size()) << golden << ": number of output lines";
}

INSTANTIATE_TEST_SUITE_P(Captures, GoldenTest, ::testing::ValuesIn(GoldenCaptures()),
                         [](const ::testing::TestParamInfo<GoldenCapture>& param) {
                             std::string name = param.param.mode.name + "_" + param.param.name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
