#pragma once

// Faults of the NMEA stream, applied sentence by sentence: garbage bytes between sentences, bad
// checksums, and sentences cut across TCP segments at random points. The same seed gives the
// same faults.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zntr::hotspot {

struct StreamFaultOptions {
    // End the connection after this many sentences (0: never).
    int close_after_sentences = 0;
    // Share (0-1) of sentences preceded by a run of garbage bytes.
    double garbage_share = 0.0;
    // Share (0-1) of sentences sent with a wrong checksum.
    double bad_checksum_share = 0.0;
    // Send each sentence in two to four pieces cut at random points.
    bool split_segments = false;
    std::uint32_t seed = 1;
};

class StreamFaults {
  public:
    explicit StreamFaults(const StreamFaultOptions& options);

    // The bytes to send for one sentence, as the pieces to write one after the other.
    std::vector<std::string> Render(const std::string& sentence);

  private:
    std::string Garbage();

    StreamFaultOptions options_;
    std::mt19937 random_;
};

// The sentence with its checksum digits changed to a different, still well-formed value;
// unchanged when it has no "*HH" checksum.
std::string CorruptChecksum(const std::string& sentence, std::uint8_t flip);

}  // namespace zntr::hotspot
