#include "golden_captures.h"

#include <cctype>
#include <memory>
#include <set>

#include "table.h"

namespace zntr::test {

std::vector<GoldenCapture> GoldenCaptures(const std::string& prefix,
                                          const std::filesystem::path& folder,
                                          const std::string& extension,
                                          const std::filesystem::path& goldens,
                                          const std::string& goldenEnding) {
    std::set<std::string> names;
    for (const auto& [place, ending] : {std::pair{folder, extension}, {goldens, goldenEnding}}) {
        for (const std::filesystem::path& file : FilesEndingIn(place, ending)) {
            const std::string name = file.filename().string();
            names.insert(name.substr(0, name.size() - ending.size()));
        }
    }
    std::vector<GoldenCapture> captures;
    for (const std::string& name : names) {
        std::string testName = prefix + "_" + name;
        for (char& c : testName) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        captures.push_back(
            {testName, folder / (name + extension), goldens / (name + goldenEnding)});
    }
    return captures;
}

std::string CheckGoldenCapture(const GoldenCapture& capture, const CaptureDecoder& decode) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen(capture.capture.string().c_str(), "rb"), std::fclose);
    if (!file) {
        return capture.golden.string() + " has no capture " + capture.capture.string();
    }
    std::string output;
    if (decode(file.get(), [&output](std::string_view line) { output += line; }) != 0) {
        return "could not decode " + capture.capture.string();
    }
    return CompareWithGoldenFile(capture.golden, output);
}

}  // namespace zntr::test
