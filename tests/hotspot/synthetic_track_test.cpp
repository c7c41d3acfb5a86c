#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "sentence_reader.h"
#include "track/synthetic_track.h"

namespace zntr::hotspot {
namespace {

using testing::DegreesOf;
using testing::Parsed;
using testing::SecondsOf;

constexpr double kRad = std::numbers::pi / 180.0;
constexpr double kStepM = 30.0 * 1852.0 / 3600.0;  // default speed times default period

// Haversine distance and initial bearing, written out here to check the route's own
// vector-based geometry.
double DistanceM(const Epoch& a, const Epoch& b) {
    const double h = std::pow(std::sin((b.latitude - a.latitude) * kRad / 2), 2) +
                     std::cos(a.latitude * kRad) * std::cos(b.latitude * kRad) *
                         std::pow(std::sin((b.longitude - a.longitude) * kRad / 2), 2);
    return 2.0 * kEarthRadiusM * std::asin(std::sqrt(h));
}

double BearingDeg(const Epoch& a, const Epoch& b) {
    const double dlon = (b.longitude - a.longitude) * kRad;
    const double y = std::sin(dlon) * std::cos(b.latitude * kRad);
    const double x = std::cos(a.latitude * kRad) * std::sin(b.latitude * kRad) -
                     std::sin(a.latitude * kRad) * std::cos(b.latitude * kRad) * std::cos(dlon);
    return std::atan2(y, x) / kRad;
}

// Smallest difference between two directions, in degrees.
double AngleGap(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

std::vector<Epoch> Drive(const TrackOptions& options, int count) {
    SyntheticTrack track(options);
    std::vector<Epoch> epochs;
    for (int i = 0; i < count; ++i) {
        epochs.push_back(track.Next());
    }
    return epochs;
}

// The epoch's sentences, each checked for framing and checksum. The GSV group sits between
// GSA (index 2) and the last three, RMC, VTG and PQXFI.
std::vector<Parsed> ReadAll(const Epoch& epoch) {
    std::vector<Parsed> parsed(epoch.sentences.size());
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        EXPECT_TRUE(testing::Read(epoch.sentences[i], parsed[i]));
    }
    return parsed;
}

std::string Joined(const std::vector<std::string>& fields, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < fields.size(); ++i) {
        text += (i > from ? "," : "") + fields[i];
    }
    return text;
}

// Sentence order, field counts, and the GSV group against the epoch's satellites.
void ExpectWellFormed(const Epoch& epoch) {
    const std::vector<Parsed> s = ReadAll(epoch);
    const std::size_t in_view = epoch.in_view.size();
    const std::size_t group = std::max<std::size_t>(1, (in_view + 3) / 4);
    ASSERT_EQ(s.size(), 6 + group) << "epoch " << epoch.index;
    const std::vector<std::pair<std::string, std::size_t>> fixed = {
        {"GPGGA", 14}, {"GPGLL", 7}, {"GPGSA", 17}, {"GPRMC", 12}, {"GPVTG", 9}, {"PQXFI", 9}};
    for (std::size_t k = 0; k < fixed.size(); ++k) {
        const Parsed& sentence = s[k < 3 ? k : k + group];
        EXPECT_EQ(sentence.type, fixed[k].first);
        EXPECT_EQ(sentence.fields.size(), fixed[k].second) << sentence.type;
    }
    std::size_t listed = 0;
    for (std::size_t k = 0; k < group; ++k) {
        const Parsed& gsv = s[3 + k];
        ASSERT_EQ(gsv.type, "GPGSV");
        ASSERT_EQ((gsv.fields.size() - 3) % 4, 0u);
        EXPECT_EQ(Joined({gsv.fields.begin(), gsv.fields.begin() + 3}, 0),
                  std::to_string(group) + "," + std::to_string(k + 1) + "," +
                      (in_view < 10 ? "0" : "") + std::to_string(in_view));
        const std::size_t here = (gsv.fields.size() - 3) / 4;
        EXPECT_EQ(here, k + 1 < group ? 4u : in_view - 4 * k);
        for (std::size_t j = 0; j < here && listed + j < in_view; ++j) {
            const SatelliteInView& sat = epoch.in_view[listed + j];
            const std::string& snr = gsv.fields[6 + 4 * j];
            EXPECT_EQ(std::stoi(gsv.fields[3 + 4 * j]), sat.prn);
            EXPECT_EQ(std::stoi(gsv.fields[4 + 4 * j]), sat.elevation_deg);
            EXPECT_EQ(gsv.fields[5 + 4 * j].size(), 3u);
            EXPECT_EQ(std::stoi(gsv.fields[5 + 4 * j]), sat.azimuth_deg);
            EXPECT_EQ(snr.empty() ? -1 : std::stoi(snr), sat.snr_db);
        }
        listed += here;
    }
    EXPECT_EQ(listed, in_view);
}

// More than one lap of the default loop with a three-epoch outage.
class DefaultDrive : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        TrackOptions options;
        options.outages = {{40, 43}};
        epochs_ = new std::vector<Epoch>(Drive(options, 450));
    }
    static void TearDownTestSuite() { delete epochs_; }
    static const std::vector<Epoch>& epochs() { return *epochs_; }
    static inline std::vector<Epoch>* epochs_ = nullptr;
};

TEST_F(DefaultDrive, FixSentencesReadBackToTheEpochValues) {
    int fixes = 0;
    for (const Epoch& epoch : epochs()) {
        ExpectWellFormed(epoch);
        if (!epoch.has_fix) {
            continue;
        }
        ++fixes;
        const std::vector<Parsed> s = ReadAll(epoch);
        const std::vector<std::string>& gga = s[0].fields;
        EXPECT_NEAR(SecondsOf(gga[0]), epoch.seconds_of_day, 1e-6);
        EXPECT_NEAR(DegreesOf(gga[1], gga[2]), epoch.latitude, 1e-6);
        EXPECT_NEAR(DegreesOf(gga[3], gga[4]), epoch.longitude, 1e-6);
        EXPECT_EQ(gga[5], "1");
        EXPECT_EQ(gga[6].size(), 2u);
        EXPECT_EQ(std::stoul(gga[6]), epoch.used_prns.size());
        EXPECT_NEAR(std::stod(gga[8]), epoch.altitude_m, 0.05 + 1e-9);

        // GSA lists the used PRNs, each tracked and at least 10 degrees up, in order.
        const std::vector<std::string>& gsa = s[2].fields;
        ASSERT_GE(epoch.used_prns.size(), 4u);
        EXPECT_TRUE(std::is_sorted(epoch.used_prns.begin(), epoch.used_prns.end()));
        for (std::size_t slot = 0; slot < 12; ++slot) {
            if (slot >= epoch.used_prns.size()) {
                EXPECT_EQ(gsa[2 + slot], "");
                continue;
            }
            const int prn = epoch.used_prns[slot];
            EXPECT_EQ(gsa[2 + slot], (prn < 10 ? "0" : "") + std::to_string(prn));
            const auto sat = std::find_if(epoch.in_view.begin(), epoch.in_view.end(),
                                          [&](const SatelliteInView& v) { return v.prn == prn; });
            ASSERT_NE(sat, epoch.in_view.end());
            EXPECT_GE(sat->snr_db, 0);
            EXPECT_GE(sat->elevation_deg, 10);
        }
        const double pdop = std::stod(gsa[14]);
        const double hdop = std::stod(gsa[15]);
        const double vdop = std::stod(gsa[16]);
        EXPECT_EQ(gsa[1], "3");
        EXPECT_NEAR(hdop, epoch.hdop, 0.05 + 1e-9);
        EXPECT_NEAR(pdop * pdop, hdop * hdop + vdop * vdop, 0.1 * (pdop + hdop + vdop));
        EXPECT_TRUE(hdop > 0.4 && pdop < 6.0) << pdop << " " << hdop;

        const std::vector<std::string>& rmc = s[s.size() - 3].fields;
        EXPECT_EQ(rmc[1] + rmc[9] + rmc[10] + rmc[11], "A3.1EA");
        EXPECT_NEAR(std::stod(rmc[6]), epoch.speed_knots, 0.05 + 1e-9);
        EXPECT_LE(AngleGap(std::stod(rmc[7]), epoch.course_true_deg), 0.05 + 1e-9);

        const std::vector<std::string>& vtg = s[s.size() - 2].fields;
        EXPECT_LE(AngleGap(std::stod(vtg[2]), epoch.course_true_deg - 3.1), 0.05 + 1e-9);
        EXPECT_NEAR(std::stod(vtg[6]), epoch.speed_knots * 1.852, 0.05 + 1e-9);

        // PQXFI carries the horizontal error estimate, which scales with hdop.
        const Epoch& first = epochs().front();
        EXPECT_NEAR(std::stod(s.back().fields[6]), epoch.error_radius_m, 0.05 + 1e-9);
        EXPECT_NEAR(epoch.error_radius_m / epoch.hdop, first.error_radius_m / first.hdop, 1e-9);
    }
    EXPECT_EQ(fixes, 447);
}

TEST_F(DefaultDrive, OutageEpochsUseTheNoFixForms) {
    const Epoch& before = epochs()[39];
    for (std::size_t i = 40; i < 43; ++i) {
        const Epoch& epoch = epochs()[i];
        ASSERT_FALSE(epoch.has_fix);
        EXPECT_TRUE(epoch.used_prns.empty());
        EXPECT_EQ(epoch.latitude, before.latitude);
        EXPECT_EQ(epoch.longitude, before.longitude);
        EXPECT_EQ(epoch.speed_knots, 0.0);

        const std::vector<Parsed> s = ReadAll(epoch);
        const std::string& time = s[0].fields[0];
        EXPECT_NEAR(SecondsOf(time), epoch.seconds_of_day, 1e-6);
        EXPECT_EQ(Joined(s[0].fields, 1), ",,,,0,00,,,M,,M,,");
        EXPECT_EQ(Joined(s[1].fields, 0), ",,,," + time + ",V,N");
        EXPECT_EQ(Joined(s[2].fields, 0), "A,1,,,,,,,,,,,,,,,");
        for (const SatelliteInView& sat : epoch.in_view) {
            EXPECT_EQ(sat.snr_db, -1) << "nothing is tracked";  // GSV shows empty SNRs
        }
        EXPECT_EQ(Joined(s[s.size() - 3].fields, 0), time + ",V,,,,,,,051226,,,N");
        EXPECT_EQ(Joined(s[s.size() - 2].fields, 0), ",T,,M,,N,,K,N");
        EXPECT_EQ(Joined(s.back().fields, 0), time.substr(0, 8) + ",,,,,,,,");
    }
    // The vehicle kept driving during the outage: the next fix is four steps on.
    const Epoch& after = epochs()[43];
    ASSERT_TRUE(after.has_fix);
    ASSERT_EQ(after.leg_index, before.leg_index);
    EXPECT_NEAR(DistanceM(before, after), 4 * kStepM, 1e-3);
}

TEST_F(DefaultDrive, MovesAlongTheLoopAtTheSetSpeedAndCourse) {
    int same_leg = 0;
    int corners = 0;
    for (std::size_t i = 1; i < epochs().size(); ++i) {
        const Epoch& a = epochs()[i - 1];
        const Epoch& b = epochs()[i];
        if (!a.has_fix || !b.has_fix) {
            continue;
        }
        if (a.leg_index == b.leg_index) {
            ++same_leg;
            EXPECT_NEAR(DistanceM(a, b), kStepM, 1e-3) << "epoch " << b.index;
            EXPECT_LE(AngleGap(BearingDeg(a, b), a.course_true_deg), 1e-4);
        } else {
            // Cutting a corner is shorter than driving round it; legs follow in order and the
            // seventh, closing leg leads back to the first.
            ++corners;
            EXPECT_LT(DistanceM(a, b), kStepM);
            EXPECT_EQ(b.leg_index, (a.leg_index + 1) % 7);
        }
    }
    EXPECT_GT(same_leg, 400);
    EXPECT_GE(corners, 8);
}

TEST(SyntheticTrack, OpenRouteStopsAtItsLastWaypoint) {
    TrackOptions options;
    options.route = {{-33.8650, 151.2090}, {-33.8660, 151.2100}};  // about 145 m
    options.loop = false;
    const std::vector<Epoch> epochs = Drive(options, 15);
    const Epoch& last = epochs.back();
    EXPECT_EQ(epochs[1].speed_knots, 30.0);
    EXPECT_NEAR(last.latitude, -33.8660, 1e-9);
    EXPECT_NEAR(last.longitude, 151.2100, 1e-9);
    const std::vector<std::string> rmc = ReadAll(last)[last.sentences.size() - 3].fields;
    EXPECT_EQ(rmc[3] + rmc[5] + rmc[6], "SE0.0");
}

TEST(SyntheticTrack, TimeAndDateRollOverAtMidnightTogether) {
    struct Case {
        CalendarDate date;
        std::string today;
        std::string tomorrow;
    };
    for (const Case& c :
         {Case{{2026, 12, 31}, "311226", "010127"}, Case{{2028, 2, 28}, "280228", "290228"},
          Case{{2027, 2, 28}, "280227", "010327"}}) {
        TrackOptions options;
        options.date = c.date;
        options.start_seconds_of_day = 86399.95;
        options.period_seconds = 0.01;
        const std::vector<std::string> times = {"235959.95", "235959.96", "235959.97", "235959.98",
                                                "235959.99", "000000.00", "000000.01"};
        for (const Epoch& epoch : Drive(options, 7)) {
            const std::vector<Parsed> s = ReadAll(epoch);
            const bool tomorrow = epoch.index >= 5;
            EXPECT_EQ(s[0].fields[0], times[static_cast<std::size_t>(epoch.index)]);
            EXPECT_EQ(s.back().fields[0], tomorrow ? "000000.0" : "235959.9");
            EXPECT_EQ(s[s.size() - 3].fields[8], tomorrow ? c.tomorrow : c.today);
        }
    }
}

TEST(SyntheticTrack, SameOptionsSameBytesOtherSeedOtherSignals) {
    TrackOptions options;
    const std::string capture = RenderCapture(options, 120);
    EXPECT_EQ(capture, RenderCapture(options, 120));

    std::string stepped;
    const std::vector<Epoch> plain = Drive(options, 120);
    for (const Epoch& epoch : plain) {
        for (const std::string& sentence : epoch.sentences) {
            stepped += sentence;
        }
    }
    EXPECT_EQ(stepped, capture);

    // An outage blanks its own epochs but leaves the signals of later ones as they were.
    options.outages = {{10, 12}};
    const std::vector<Epoch> with_outage = Drive(options, 120);
    EXPECT_NE(with_outage[10].sentences, plain[10].sentences);
    EXPECT_EQ(with_outage[12].sentences, plain[12].sentences);

    options.seed = 2;
    const std::vector<Epoch> reseeded = Drive(options, 120);
    int snr_changes = 0;
    for (std::size_t i = 12; i < plain.size(); ++i) {
        EXPECT_EQ(reseeded[i].latitude, plain[i].latitude);
        ASSERT_EQ(reseeded[i].in_view.size(), plain[i].in_view.size());
        for (std::size_t k = 0; k < plain[i].in_view.size(); ++k) {
            snr_changes += reseeded[i].in_view[k].snr_db != plain[i].in_view[k].snr_db;
        }
    }
    EXPECT_GT(snr_changes, 100);
}

TEST(SyntheticTrack, SkyDriftsSlowlyAndKeepsAFixAllDay) {
    TrackOptions options;
    options.period_seconds = 60.0;
    options.start_seconds_of_day = 0.0;
    const std::vector<Epoch> day = Drive(options, 24 * 60);
    std::set<std::vector<int>> used_sets;
    for (std::size_t i = 0; i < day.size(); ++i) {
        EXPECT_TRUE(day[i].has_fix) << "minute " << i;
        ExpectWellFormed(day[i]);  // in-view counts vary over the day, so do GSV groups
        used_sets.insert(day[i].used_prns);
        for (const SatelliteInView& now : day[i].in_view) {
            for (const SatelliteInView& then : i > 0 ? day[i - 1].in_view : day[i].in_view) {
                if (now.prn == then.prn) {
                    EXPECT_LE(std::abs(now.elevation_deg - then.elevation_deg), 2);
                    EXPECT_LE(AngleGap(now.azimuth_deg, then.azimuth_deg), 1.0);
                }
            }
        }
    }
    EXPECT_GT(used_sets.size(), 10u);  // satellites rise and set over the day
}

TEST(SyntheticTrack, RejectsOptionsOutOfRange) {
    const auto rejects = [](auto change) {
        TrackOptions options;
        change(options);
        EXPECT_THROW(SyntheticTrack{options}, std::invalid_argument);
    };
    rejects([](TrackOptions& o) { o.period_seconds = 0.0; });
    rejects([](TrackOptions& o) { o.start_seconds_of_day = 86400.0; });
    rejects([](TrackOptions& o) { o.date = {2027, 2, 29}; });
    rejects([](TrackOptions& o) { o.outages = {{5, 2}}; });
    rejects([](TrackOptions& o) { o.route = {{10.0, 20.0}, {-10.0, -160.0}}; });  // antipodal
    EXPECT_THROW(RenderCapture(TrackOptions{}, -1), std::invalid_argument);
}

}  // namespace
}  // namespace zntr::hotspot
