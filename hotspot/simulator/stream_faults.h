#pragma once

// Faults of the NMEA stream, applied sentence by sentence: garbage bytes between sentences, bad
// checksums, very long lines without a line feed, NUL bytes, sentences cut across TCP segments at
// random points, and a silence in the middle of the stream. The same seed gives the same faults.

#include <chrono>
#include <cstddef>
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
    // Share (0-1) of sentences preceded by `long_line_bytes` printable bytes with neither a line
    // feed nor a '$': one line far longer than any buffer of a reader, ended by the sentence's.
    double long_line_share = 0.0;
    std::size_t long_line_bytes = 4096;
    // Share (0-1) of sentences with a run of one to four NUL bytes put at a random place in them
    // (before, inside or after the sentence's text).
    double nul_share = 0.0;
    // Send each sentence in two to four pieces cut at random points.
    bool split_segments = false;
    // The faults above touch only the first this many sentences of each connection (0: all), so
    // a test can see the stream come right where the fault ends.
    int faulty_sentences = 0;
    // After this many sentences of a connection, send nothing for `pause`, then go on as if
    // nothing happened (0: never). The connection stays open throughout.
    int pause_after_sentences = 0;
    std::chrono::milliseconds pause{0};
    std::uint32_t seed = 1;
};

class StreamFaults {
  public:
    explicit StreamFaults(const StreamFaultOptions& options);

    // The bytes to send for one sentence, as the pieces to write one after the other.
    std::vector<std::string> Render(const std::string& sentence);

  private:
    std::string Garbage();
    std::string LongLine();
    void InsertNuls(std::string& bytes);

    StreamFaultOptions options_;
    std::mt19937 random_;
    int rendered_ = 0;
};

// The sentence with its checksum digits changed to a different, still well-formed value;
// unchanged when it has no "*HH" checksum.
std::string CorruptChecksum(const std::string& sentence, std::uint8_t flip);

}  // namespace zntr::hotspot
