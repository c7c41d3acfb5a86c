#pragma once

// A synthetic drive rendered as the NMEA 0183 sentences a GPS receiver would stream.
//
// A vehicle drives along a route of waypoints at constant speed; every period the track
// produces one epoch: time, date, position, motion, the satellites in view with their
// dilutions, and the sentences of that epoch in this order:
//   GPGGA, GPGLL, GPGSA, GPGSV (the full group), GPRMC, GPVTG, PQXFI (proprietary fix report).
// The output depends only on the options: the same options give byte-identical sentences.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "track/calendar.h"
#include "track/nmea_sentence.h"
#include "track/route.h"
#include "track/sky.h"

namespace zntr::hotspot {

struct TrackOptions {
    // Waypoints to drive through; empty selects DefaultRoute().
    std::vector<Waypoint> route;
    double speed_knots = 30.0;
    // One epoch per period; at least 0.01 s, the resolution of the sentences' time fields.
    double period_seconds = 1.0;
    // UTC time of the first epoch, in [0, 86400).
    double start_seconds_of_day = 43200.0;
    // UTC date of the first epoch; later epochs roll it over at midnight.
    CalendarDate date{2026, 12, 5};
    // Mean altitude above mean sea level; the road rises and falls a few metres around it.
    double altitude_m = 520.0;
    double geoid_separation_m = 47.0;
    // East positive, in (-180, 180].
    double magnetic_variation_deg = 3.1;
    // Seeds the satellite SNRs; the only source of randomness.
    std::uint32_t seed = 1;
    // Epoch index ranges [first, last) without a fix (the antenna sees no satellite).
    std::vector<std::pair<int, int>> outages;
    // At the route's end drive on from its start (the route is a closed loop, the last
    // waypoint joined back to the first); otherwise stop at the last waypoint.
    bool loop = true;
};

// A closed loop of about 5.9 km along country roads, starting and ending at its first point.
std::vector<Waypoint> DefaultRoute();

struct Epoch {
    int index = 0;
    double seconds_of_day = 0.0;  // UTC, kept to the centisecond shown in the sentences
    CalendarDate date{};
    bool has_fix = false;

    // With a fix: where the vehicle is. Without one: the last fixed position (the route's start
    // before the first fix), course unchanged and speed 0, while the vehicle itself keeps
    // driving unseen, so the next fix appears further along the route.
    double latitude = 0.0;
    double longitude = 0.0;
    double altitude_m = 0.0;  // above mean sea level
    double course_true_deg = 0.0;
    double speed_knots = 0.0;
    int leg_index = 0;  // route leg the position lies on

    // Error estimates and dilutions; all 0 without a fix.
    double error_radius_m = 0.0;    // horizontal, from hdop
    double vertical_error_m = 0.0;  // from vdop
    double velocity_error_mps = 0.0;
    double pdop = 0.0;
    double hdop = 0.0;
    double vdop = 0.0;

    std::vector<int> used_prns;            // ascending; empty without a fix
    std::vector<SatelliteInView> in_view;  // ascending PRN
    std::vector<std::string> sentences;    // each framed by FormatSentence, CR LF ended
};

class SyntheticTrack {
  public:
    // Throws std::invalid_argument when an option is out of range.
    explicit SyntheticTrack(TrackOptions options = {});

    // The next epoch, starting with index 0; time advances by period_seconds each call.
    Epoch Next();

    const TrackOptions& options() const { return options_; }
    const Route& route() const { return route_; }

  private:
    bool InOutage(int index) const;
    std::vector<std::string> Sentences(const Epoch& epoch) const;

    TrackOptions options_;
    Route route_;
    Sky sky_;
    int next_index_ = 0;
    // What an epoch without a fix repeats.
    double held_latitude_ = 0.0;
    double held_longitude_ = 0.0;
    double held_altitude_m_ = 0.0;
    double held_course_deg_ = 0.0;
    int held_leg_ = 0;
};

// All sentences of the first `epochs` epochs of a track, concatenated.
std::string RenderCapture(const TrackOptions& options, int epochs);

}  // namespace zntr::hotspot
