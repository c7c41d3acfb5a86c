// The captures a golden runner checks, each with its golden file: the capture is decoded in
// process and what that prints is compared with the reviewed golden file (or written there when
// ZNTR_REBUILD_GOLDEN=1).
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zntr::test {

struct GoldenCapture {
    std::string name;               // "<folder>_<capture>", letters, digits and "_", a test name
    std::filesystem::path capture;  // absent for a golden file left without its capture
    std::filesystem::path golden;   // absent for a capture without its golden file yet
};

inline void PrintTo(const GoldenCapture& capture, std::ostream* out) {
    *out << capture.golden.string();
}

// Every file of `folder` ending in `extension` with its golden file <name><goldenEnding> in
// `goldens`, and every golden file there without its capture, by name. `prefix` starts the names.
std::vector<GoldenCapture> GoldenCaptures(const std::string& prefix,
                                          const std::filesystem::path& folder,
                                          const std::string& extension,
                                          const std::filesystem::path& goldens,
                                          const std::string& goldenEnding);

// What a decode prints, a line at a time; its result is 0 when it could read the capture.
using DecodeWriter = std::function<void(std::string_view line)>;
using CaptureDecoder = std::function<int(std::FILE* capture, const DecodeWriter& write)>;

// Decodes the capture and compares the output with its golden file: "" when they agree (or the
// golden file was rewritten), else what went wrong or the first line that differs.
std::string CheckGoldenCapture(const GoldenCapture& capture, const CaptureDecoder& decode);

}  // namespace zntr::test
