#include "simulator/stream_source.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace zntr::hotspot {
namespace {

constexpr double kMaxRecordedPause = 5.0;
constexpr double kFallbackPause = 0.1;

// Field `index` (0 is the tag) of a sentence, up to its checksum.
std::string Field(const std::string& line, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = line.find(',', start);
        if (start == std::string::npos) {
            return {};
        }
        ++start;
    }
    const std::size_t end = line.find_first_of(",*\r\n", start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class CaptureReplay : public SentenceSource {
  public:
    CaptureReplay(std::vector<std::string> lines, double lines_per_second)
        : lines_(std::move(lines)), rate_(lines_per_second) {
        has_times_ = std::any_of(lines_.begin(), lines_.end(), [](const std::string& line) {
            return SentenceTimeOfDay(line).has_value();
        });
    }

    PacedSentence Next() override {
        PacedSentence sentence;
        sentence.text = lines_[next_];
        next_ = (next_ + 1) % lines_.size();
        if (rate_ > 0) {
            sentence.pause_seconds = started_ ? 1.0 / rate_ : 0.0;
        } else if (!has_times_) {
            sentence.pause_seconds = started_ ? kFallbackPause : 0.0;
        } else if (const auto time = SentenceTimeOfDay(sentence.text)) {
            if (last_time_) {
                double step = *time - *last_time_;
                if (step < -43200.0) {
                    step += 86400.0;  // past midnight
                }
                // A capture starting again from its beginning goes back in time: one period.
                sentence.pause_seconds =
                    step <= 0 ? (step < 0 ? 1.0 : 0.0) : std::min(step, kMaxRecordedPause);
            }
            last_time_ = time;
        }
        started_ = true;
        return sentence;
    }

  private:
    std::vector<std::string> lines_;
    double rate_;
    bool has_times_ = false;
    bool started_ = false;
    std::size_t next_ = 0;
    std::optional<double> last_time_;
};

class TrackStream : public SentenceSource {
  public:
    explicit TrackStream(const TrackOptions& options) : track_(options) {}

    PacedSentence Next() override {
        if (pending_.empty()) {
            Epoch epoch = track_.Next();
            pending_.assign(epoch.sentences.rbegin(), epoch.sentences.rend());
            epoch_start_ = true;
        }
        PacedSentence sentence;
        sentence.text = std::move(pending_.back());
        pending_.pop_back();
        if (epoch_start_ && started_) {
            sentence.pause_seconds = track_.options().period_seconds;
        }
        epoch_start_ = false;
        started_ = true;
        return sentence;
    }

  private:
    SyntheticTrack track_;
    std::vector<std::string> pending_;  // the current epoch's sentences, last first
    bool epoch_start_ = false;
    bool started_ = false;
};

}  // namespace

std::vector<std::string> SplitLines(const std::string& capture) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < capture.size()) {
        const std::size_t end = capture.find('\n', start);
        const std::size_t stop = end == std::string::npos ? capture.size() : end + 1;
        lines.push_back(capture.substr(start, stop - start));
        start = stop;
    }
    return lines;
}

std::optional<double> SentenceTimeOfDay(const std::string& line) {
    if (line.size() < 7 || line[0] != '$') {
        return std::nullopt;
    }
    const std::string tag = Field(line, 0);
    if (tag.size() < 5) {
        return std::nullopt;
    }
    const std::string type = tag.substr(tag.size() - 3);
    int index = 0;
    if (type == "GGA" || type == "RMC" || type == "ZDA") {
        index = 1;
    } else if (type == "GLL") {
        index = 5;
    } else {
        return std::nullopt;
    }
    const std::string time = Field(line, index);
    if (time.size() < 6 || !std::all_of(time.begin(), time.begin() + 6,
                                        [](unsigned char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    const double hours = std::stoi(time.substr(0, 2));
    const double minutes = std::stoi(time.substr(2, 2));
    const double seconds = std::stod(time.substr(4));
    return hours * 3600 + minutes * 60 + seconds;
}

std::unique_ptr<SentenceSource> MakeCaptureReplay(const std::string& capture,
                                                  double lines_per_second) {
    std::vector<std::string> lines = SplitLines(capture);
    if (lines.empty()) {
        throw std::invalid_argument("the capture holds no line");
    }
    return std::make_unique<CaptureReplay>(std::move(lines), lines_per_second);
}

std::unique_ptr<SentenceSource> MakeTrackStream(const TrackOptions& options) {
    return std::make_unique<TrackStream>(options);
}

}  // namespace zntr::hotspot
