#pragma once

// What the NMEA stream server sends: a replayed capture or a synthetic drive, one sentence at a
// time, each with the pause to make before it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "track/synthetic_track.h"

namespace zntr::hotspot {

struct PacedSentence {
    double pause_seconds = 0.0;  // to wait before sending the text
    std::string text;            // one line with its line end as captured or generated
};

class SentenceSource {
  public:
    virtual ~SentenceSource() = default;
    // The next sentence; never ends (captures loop, tracks drive on).
    virtual PacedSentence Next() = 0;
};

// Replays a capture's lines in a loop. With lines_per_second > 0 at that rate; otherwise at the
// recorded pace: the pause before a line is the step of its UTC time field (GGA, RMC, ZDA, GLL)
// from the previous time seen, clamped to 0-5 s, and lines without a time follow at once. A
// capture without any time falls back to 10 lines per second. Throws std::invalid_argument when
// the capture holds no line.
std::unique_ptr<SentenceSource> MakeCaptureReplay(const std::string& capture,
                                                  double lines_per_second);

// Streams a synthetic drive: each epoch's sentences together, one epoch per period.
std::unique_ptr<SentenceSource> MakeTrackStream(const TrackOptions& options);

// Cuts a capture into lines, each keeping its line feed (a last line without one keeps none).
std::vector<std::string> SplitLines(const std::string& capture);

// The UTC time of day (seconds) in a sentence's time field, for the sentences that carry one.
std::optional<double> SentenceTimeOfDay(const std::string& line);

}  // namespace zntr::hotspot
