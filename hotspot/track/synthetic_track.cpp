#include "track/synthetic_track.h"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string_view>

#include "track/nmea_fields.h"

namespace zntr::hotspot {
namespace {

constexpr double kMetresPerNauticalMile = 1852.0;
constexpr double kKmPerNauticalMile = 1.852;
constexpr std::int64_t kCentisecondsPerDay = 86400 * 100;
// Height of the gentle rise and fall of the road around the mean altitude, once per lap.
constexpr double kHillHeightM = 6.0;
// Range error of one satellite (1 sigma); position errors are this times the dilutions.
constexpr double kRangeErrorM = 2.5;
// Velocity error per unit of pdop.
constexpr double kVelocityErrorMps = 0.1;

// Comma-separated sentence body, starting with the talker and type.
class Body {
  public:
    explicit Body(std::string_view type) : text_(type) {}

    Body& Add(std::string_view field) {
        text_ += ',';
        text_ += field;
        return *this;
    }
    Body& Add(char field) { return Add(std::string_view(&field, 1)); }
    Body& Empty(int count) {
        text_.append(static_cast<std::size_t>(count), ',');
        return *this;
    }
    std::string Sentence() const { return FormatSentence(text_); }

  private:
    std::string text_;
};

TrackOptions Checked(TrackOptions options) {
    const auto finite = [](double value) { return std::isfinite(value); };
    if (!finite(options.period_seconds) || options.period_seconds < 0.01) {
        throw std::invalid_argument("period_seconds must be at least 0.01");
    }
    if (!finite(options.speed_knots) || options.speed_knots < 0.0) {
        throw std::invalid_argument("speed_knots must be zero or more");
    }
    if (!(options.start_seconds_of_day >= 0.0 && options.start_seconds_of_day < 86400.0)) {
        throw std::invalid_argument("start_seconds_of_day must be in [0, 86400)");
    }
    if (!IsValidDate(options.date)) {
        throw std::invalid_argument("date is not a calendar day");
    }
    if (!finite(options.altitude_m) || !finite(options.geoid_separation_m)) {
        throw std::invalid_argument("altitude and geoid separation must be finite");
    }
    if (!(options.magnetic_variation_deg > -180.0 && options.magnetic_variation_deg <= 180.0)) {
        throw std::invalid_argument("magnetic_variation_deg must be in (-180, 180]");
    }
    for (const auto& [first, last] : options.outages) {
        if (first < 0 || last < first) {
            throw std::invalid_argument("an outage must be a range [first, last) of epochs");
        }
    }
    if (options.route.empty()) {
        options.route = DefaultRoute();
    }
    return options;
}

}  // namespace

std::vector<Waypoint> DefaultRoute() {
    return {
        {46.80120, 7.14050}, {46.80510, 7.15230}, {46.81190, 7.15870}, {46.81620, 7.15110},
        {46.81480, 7.13720}, {46.80960, 7.12980}, {46.80390, 7.13160},
    };
}

SyntheticTrack::SyntheticTrack(TrackOptions options)
    : options_(Checked(std::move(options))),
      route_(options_.route, options_.loop),
      sky_(options_.seed) {
    const RoutePosition start = route_.At(0.0);
    held_latitude_ = start.latitude;
    held_longitude_ = start.longitude;
    held_altitude_m_ = options_.altitude_m;
    held_course_deg_ = start.course_true_deg;
    held_leg_ = start.leg_index;
}

bool SyntheticTrack::InOutage(int index) const {
    for (const auto& [first, last] : options_.outages) {
        if (index >= first && index < last) {
            return true;
        }
    }
    return false;
}

Epoch SyntheticTrack::Next() {
    Epoch epoch;
    epoch.index = next_index_++;

    // Time is computed from the index rather than accumulated, so it never drifts; the
    // date and the time of day both come from the same rounded count of centiseconds.
    const double elapsed_s = epoch.index * options_.period_seconds;
    const double seconds = options_.start_seconds_of_day + elapsed_s;
    const std::int64_t centiseconds = std::llround(seconds * 100.0);
    epoch.seconds_of_day = static_cast<double>(centiseconds % kCentisecondsPerDay) / 100.0;
    epoch.date = AddDays(options_.date, centiseconds / kCentisecondsPerDay);

    const bool receiving = !InOutage(epoch.index);
    epoch.in_view = sky_.Observe(seconds, receiving);
    const std::vector<SatelliteInView> used = SelectUsed(epoch.in_view);
    const std::optional<Dilution> dilution = ComputeDilution(used);
    epoch.has_fix = receiving && dilution.has_value();

    if (epoch.has_fix) {
        const double speed_mps = options_.speed_knots * kMetresPerNauticalMile / 3600.0;
        const RoutePosition at = route_.At(speed_mps * elapsed_s);
        epoch.latitude = at.latitude;
        epoch.longitude = at.longitude;
        epoch.course_true_deg = at.course_true_deg;
        epoch.leg_index = at.leg_index;
        epoch.speed_knots = at.at_end ? 0.0 : options_.speed_knots;
        epoch.altitude_m = options_.altitude_m;
        if (route_.length_m() > 0.0) {
            epoch.altitude_m +=
                kHillHeightM * std::sin(2.0 * std::numbers::pi * at.distance_m / route_.length_m());
        }
        epoch.pdop = dilution->pdop;
        epoch.hdop = dilution->hdop;
        epoch.vdop = dilution->vdop;
        epoch.error_radius_m = kRangeErrorM * dilution->hdop;
        epoch.vertical_error_m = kRangeErrorM * dilution->vdop;
        epoch.velocity_error_mps = kVelocityErrorMps * dilution->pdop;
        for (const SatelliteInView& sat : used) {
            epoch.used_prns.push_back(sat.prn);
        }
        held_latitude_ = epoch.latitude;
        held_longitude_ = epoch.longitude;
        held_altitude_m_ = epoch.altitude_m;
        held_course_deg_ = epoch.course_true_deg;
        held_leg_ = epoch.leg_index;
    } else {
        epoch.latitude = held_latitude_;
        epoch.longitude = held_longitude_;
        epoch.altitude_m = held_altitude_m_;
        epoch.course_true_deg = held_course_deg_;
        epoch.leg_index = held_leg_;
    }

    epoch.sentences = Sentences(epoch);
    return epoch;
}

std::vector<std::string> SyntheticTrack::Sentences(const Epoch& epoch) const {
    const std::int64_t centiseconds = std::llround(epoch.seconds_of_day * 100.0);
    const std::string time = TimeField(centiseconds, 2);
    const AngleField lat = LatitudeField(epoch.latitude);
    const AngleField lon = LongitudeField(epoch.longitude);
    const bool fix = epoch.has_fix;
    const char status = fix ? 'A' : 'V';
    const char mode = fix ? 'A' : 'N';
    std::vector<std::string> out;

    Body gga("GPGGA");
    gga.Add(time);
    if (fix) {
        gga.Add(lat.value).Add(lat.hemisphere).Add(lon.value).Add(lon.hemisphere).Add('1');
        gga.Add(ZeroPadded(static_cast<long long>(epoch.used_prns.size()), 2));
        gga.Add(FixedDecimal(epoch.hdop, 1)).Add(FixedDecimal(epoch.altitude_m, 1)).Add('M');
        gga.Add(FixedDecimal(options_.geoid_separation_m, 1)).Add('M');
    } else {
        gga.Empty(4).Add('0').Add("00").Empty(2).Add('M').Empty(1).Add('M');
    }
    out.push_back(gga.Empty(2).Sentence());

    Body gll("GPGLL");
    if (fix) {
        gll.Add(lat.value).Add(lat.hemisphere).Add(lon.value).Add(lon.hemisphere);
    } else {
        gll.Empty(4);
    }
    out.push_back(gll.Add(time).Add(status).Add(mode).Sentence());

    Body gsa("GPGSA");
    gsa.Add('A').Add(fix ? '3' : '1');
    for (std::size_t slot = 0; slot < 12; ++slot) {
        gsa.Add(slot < epoch.used_prns.size() ? ZeroPadded(epoch.used_prns[slot], 2) : "");
    }
    if (fix) {
        gsa.Add(FixedDecimal(epoch.pdop, 1)).Add(FixedDecimal(epoch.hdop, 1));
        gsa.Add(FixedDecimal(epoch.vdop, 1));
    } else {
        gsa.Empty(3);
    }
    out.push_back(gsa.Sentence());

    const std::size_t in_view = epoch.in_view.size();
    const std::size_t group = in_view == 0 ? 1 : (in_view + 3) / 4;
    for (std::size_t number = 1; number <= group; ++number) {
        Body gsv("GPGSV");
        gsv.Add(ZeroPadded(static_cast<long long>(group), 1));
        gsv.Add(ZeroPadded(static_cast<long long>(number), 1));
        gsv.Add(ZeroPadded(static_cast<long long>(in_view), 2));
        for (std::size_t i = (number - 1) * 4; i < in_view && i < number * 4; ++i) {
            const SatelliteInView& sat = epoch.in_view[i];
            gsv.Add(ZeroPadded(sat.prn, 2)).Add(ZeroPadded(sat.elevation_deg, 2));
            gsv.Add(ZeroPadded(sat.azimuth_deg, 3));
            gsv.Add(sat.snr_db >= 0 ? ZeroPadded(sat.snr_db, 2) : "");
        }
        out.push_back(gsv.Sentence());
    }

    const double variation = options_.magnetic_variation_deg;
    Body rmc("GPRMC");
    rmc.Add(time).Add(status);
    if (fix) {
        rmc.Add(lat.value).Add(lat.hemisphere).Add(lon.value).Add(lon.hemisphere);
        rmc.Add(FixedDecimal(epoch.speed_knots, 1)).Add(DirectionField(epoch.course_true_deg));
        rmc.Add(DateField(epoch.date)).Add(FixedDecimal(std::fabs(variation), 1));
        rmc.Add(variation < 0.0 ? 'W' : 'E');
    } else {
        rmc.Empty(6).Add(DateField(epoch.date)).Empty(2);
    }
    out.push_back(rmc.Add(mode).Sentence());

    Body vtg("GPVTG");
    if (fix) {
        // DirectionField brings the magnetic course into [0, 360).
        vtg.Add(DirectionField(epoch.course_true_deg)).Add('T');
        vtg.Add(DirectionField(epoch.course_true_deg - variation)).Add('M');
        vtg.Add(FixedDecimal(epoch.speed_knots, 1)).Add('N');
        vtg.Add(FixedDecimal(epoch.speed_knots * kKmPerNauticalMile, 1)).Add('K');
    } else {
        vtg.Empty(1).Add('T').Empty(1).Add('M').Empty(1).Add('N').Empty(1).Add('K');
    }
    out.push_back(vtg.Add(mode).Sentence());

    Body fix_report("PQXFI");
    fix_report.Add(TimeField(centiseconds, 1));
    if (fix) {
        fix_report.Add(lat.value).Add(lat.hemisphere).Add(lon.value).Add(lon.hemisphere);
        fix_report.Add(FixedDecimal(epoch.altitude_m, 1));
        fix_report.Add(FixedDecimal(epoch.error_radius_m, 1));
        fix_report.Add(FixedDecimal(epoch.vertical_error_m, 1));
        fix_report.Add(FixedDecimal(epoch.velocity_error_mps, 1));
    } else {
        fix_report.Empty(8);
    }
    out.push_back(fix_report.Sentence());
    return out;
}

std::string RenderCapture(const TrackOptions& options, int epochs) {
    if (epochs < 0) {
        throw std::invalid_argument("epoch count must not be negative");
    }
    SyntheticTrack track(options);
    std::string capture;
    for (int i = 0; i < epochs; ++i) {
        for (const std::string& sentence : track.Next().sentences) {
            capture += sentence;
        }
    }
    return capture;
}

}  // namespace zntr::hotspot
