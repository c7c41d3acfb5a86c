#include "simulator/stream_faults.h"

#include <algorithm>
#include <cctype>

namespace zntr::hotspot {
namespace {

// Printable junk: neither '$' (it would start a sentence) nor a byte 0 nor a line feed.
constexpr char kJunkAlphabet[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789,.*#!%&()+-/:;<=>?@[]^_{}~ ";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::string CorruptChecksum(const std::string& sentence, std::uint8_t flip) {
    const std::size_t star = sentence.rfind('*');
    if (star == std::string::npos || star + 2 >= sentence.size() || flip == 0) {
        return sentence;
    }
    const int high = HexValue(sentence[star + 1]);
    const int low = HexValue(sentence[star + 2]);
    if (high < 0 || low < 0) {
        return sentence;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    const unsigned value = static_cast<unsigned>((high * 16 + low) ^ flip) & 0xFF;
    std::string corrupted = sentence;
    corrupted[star + 1] = kHex[value >> 4];
    corrupted[star + 2] = kHex[value & 0xF];
    return corrupted;
}

StreamFaults::StreamFaults(const StreamFaultOptions& options)
    : options_(options), random_(options.seed) {}

// Printable junk with neither '$' (it would start a sentence) nor a byte 0; half the runs end
// their own line, the others run into the sentence that follows and spoil its line.
std::string StreamFaults::Garbage() {
    std::uniform_int_distribution<std::size_t> length(1, 24);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kJunkAlphabet) - 2);
    std::string garbage;
    for (std::size_t n = length(random_); n > 0; --n) {
        garbage += kJunkAlphabet[pick(random_)];
    }
    if (std::bernoulli_distribution(0.5)(random_)) {
        garbage += "\r\n";
    }
    return garbage;
}

std::string StreamFaults::LongLine() {
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kJunkAlphabet) - 2);
    std::string line(options_.long_line_bytes, ' ');
    for (char& c : line) {
        c = kJunkAlphabet[pick(random_)];
    }
    return line;
}

void StreamFaults::InsertNuls(std::string& bytes) {
    const std::size_t at = std::uniform_int_distribution<std::size_t>(0, bytes.size())(random_);
    const std::size_t count = std::uniform_int_distribution<std::size_t>(1, 4)(random_);
    bytes.insert(at, count, '\0');
}

std::vector<std::string> StreamFaults::Render(const std::string& sentence) {
    const bool faulty = options_.faulty_sentences <= 0 || rendered_ < options_.faulty_sentences;
    ++rendered_;
    if (!faulty) {
        return {sentence};
    }
    const auto happens = [this](double share) {
        return share > 0 && std::bernoulli_distribution(share)(random_);
    };
    std::string bytes;
    if (happens(options_.garbage_share)) {
        bytes = Garbage();
    }
    if (happens(options_.long_line_share)) {
        bytes += LongLine();
    }
    if (options_.bad_checksum_share > 0 &&
        std::bernoulli_distribution(options_.bad_checksum_share)(random_)) {
        bytes += CorruptChecksum(
            sentence,
            static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 255)(random_)));
    } else {
        bytes += sentence;
    }
    if (happens(options_.nul_share)) {
        InsertNuls(bytes);
    }
    if (!options_.split_segments || bytes.size() < 2) {
        return {bytes};
    }
    std::uniform_int_distribution<std::size_t> cutCount(1, 3);
    std::uniform_int_distribution<std::size_t> cutAt(1, bytes.size() - 1);
    std::vector<std::size_t> cuts;
    for (std::size_t n = cutCount(random_); n > 0; --n) {
        cuts.push_back(cutAt(random_));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (const std::size_t cut : cuts) {
        pieces.push_back(bytes.substr(start, cut - start));
        start = cut;
    }
    pieces.push_back(bytes.substr(start));
    return pieces;
}

}  // namespace zntr::hotspot
