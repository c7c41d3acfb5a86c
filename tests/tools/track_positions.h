// The positions of the simulator's default drive by time of day, so that a test can check that
// what a command printed is where the drive was at that moment.
#pragma once

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "track/synthetic_track.h"

namespace zntr::test {

class TrackPositions {
  public:
    // The first `epochs` epochs of the drive the simulator streams with `options`.
    explicit TrackPositions(const hotspot::TrackOptions& options = {}, int epochs = 900) {
        hotspot::SyntheticTrack track(options);
        for (int i = 0; i < epochs; ++i) {
            const hotspot::Epoch epoch = track.Next();
            if (epoch.has_fix) {
                const auto key = std::lround(epoch.seconds_of_day * 100.0);
                positions_[key] = {epoch.latitude, epoch.longitude};
            }
        }
    }

    // Whether the drive was within `tolerance` degrees of the position at the time of day of
    // an ISO 8601 time ("2026-12-06T12:00:03.000Z", the date is not compared: the driver dates
    // its readings with the computer's date). The sentences carry 1e-4 minutes of arc.
    bool Matches(double latitude, double longitude, const std::string& isoTime,
                 double tolerance = 1e-5) const {
        int hours = 0;
        int minutes = 0;
        double seconds = 0;
        const auto t = isoTime.find('T');
        if (t == std::string::npos ||
            std::sscanf(isoTime.c_str() + t + 1, "%d:%d:%lfZ", &hours, &minutes, &seconds) != 3) {
            return false;
        }
        const auto key = std::lround((hours * 3600 + minutes * 60 + seconds) * 100.0);
        const auto found = positions_.find(key);
        return found != positions_.end() &&
               std::fabs(found->second.first - latitude) <= tolerance &&
               std::fabs(found->second.second - longitude) <= tolerance;
    }

  private:
    std::map<long, std::pair<double, double>> positions_;
};

}  // namespace zntr::test
