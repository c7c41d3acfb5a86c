#include "track/sky.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace zntr::hotspot {
namespace {

constexpr double kDegToRad = std::numbers::pi / 180.0;

// One satellite's path across the sky. The elevation swings as
// mid + swing * sin(2 pi t / period + phase) and the azimuth turns at a constant rate; the
// negative part of the swing is the time the satellite spends below the horizon.
struct Orbit {
    int prn;
    double mid_elevation_deg;
    double elevation_swing_deg;
    double period_s;
    double phase_rad;
    double azimuth0_deg;
    double azimuth_rate_deg_s;
};

// Periods of several hours keep the drift to hundredths of a degree per second while letting
// satellites rise and set over an afternoon. Around eleven are up at a time and nine or more
// are usually high enough to be used.
constexpr std::array<Orbit, 14> kConstellation = {{
    {2, 38.0, 48.0, 21600.0, 0.3, 40.0, 0.0021},
    {5, 34.0, 50.0, 25200.0, 1.9, 310.0, -0.0017},
    {7, 40.0, 46.0, 23400.0, 3.6, 128.0, 0.0025},
    {9, 30.0, 52.0, 27000.0, 5.1, 205.0, 0.0013},
    {12, 36.0, 49.0, 22500.0, 2.4, 72.0, -0.0029},
    {13, 42.0, 44.0, 28800.0, 4.4, 257.0, 0.0018},
    {15, 33.0, 51.0, 24300.0, 0.9, 163.0, 0.0022},
    {17, 39.0, 47.0, 26100.0, 5.8, 12.0, -0.0015},
    {19, 31.0, 50.0, 21900.0, 2.9, 284.0, 0.0027},
    {21, 37.0, 45.0, 29700.0, 1.4, 96.0, -0.0011},
    {24, 35.0, 50.0, 23100.0, 4.0, 228.0, 0.0019},
    {26, 41.0, 43.0, 25800.0, 0.0, 340.0, -0.0024},
    {29, 32.0, 52.0, 27900.0, 3.2, 150.0, 0.0016},
    {30, 36.0, 48.0, 22800.0, 5.4, 55.0, -0.0020},
}};

// Below this elevation a satellite is listed but not tracked (terrain and buildings).
constexpr double kMinTrackedElevationDeg = 5.0;
// Chance that a satellite high enough to be tracked is blocked at a given epoch anyway.
constexpr double kBlockedChance = 0.03;

// Solves the 4x4 system for its inverse by Gauss-Jordan elimination with partial pivoting.
bool Invert(std::array<std::array<double, 4>, 4> m, std::array<std::array<double, 4>, 4>& inv) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            inv[r][c] = r == c ? 1.0 : 0.0;
        }
    }
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r) {
            if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) {
                pivot = r;
            }
        }
        if (std::fabs(m[pivot][col]) < 1e-9) {
            return false;
        }
        std::swap(m[pivot], m[col]);
        std::swap(inv[pivot], inv[col]);
        const double scale = 1.0 / m[col][col];
        for (int c = 0; c < 4; ++c) {
            m[col][c] *= scale;
            inv[col][c] *= scale;
        }
        for (int r = 0; r < 4; ++r) {
            if (r == col || m[r][col] == 0.0) {
                continue;
            }
            const double factor = m[r][col];
            for (int c = 0; c < 4; ++c) {
                m[r][c] -= factor * m[col][c];
                inv[r][c] -= factor * inv[col][c];
            }
        }
    }
    return true;
}

}  // namespace

std::optional<Dilution> ComputeDilution(std::span<const SatelliteInView> satellites) {
    if (satellites.size() < 4) {
        return std::nullopt;
    }
    std::array<std::array<double, 4>, 4> normal{};
    for (const SatelliteInView& sat : satellites) {
        const double elevation = sat.elevation_deg * kDegToRad;
        const double azimuth = sat.azimuth_deg * kDegToRad;
        const std::array<double, 4> row = {std::cos(elevation) * std::sin(azimuth),
                                           std::cos(elevation) * std::cos(azimuth),
                                           std::sin(elevation), 1.0};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                normal[r][c] += row[r] * row[c];
            }
        }
    }
    std::array<std::array<double, 4>, 4> cofactor{};
    if (!Invert(normal, cofactor)) {
        return std::nullopt;
    }
    const double east = cofactor[0][0];
    const double north = cofactor[1][1];
    const double up = cofactor[2][2];
    if (!(east > 0.0 && north > 0.0 && up > 0.0)) {
        return std::nullopt;
    }
    return Dilution{std::sqrt(east + north + up), std::sqrt(east + north), std::sqrt(up)};
}

Sky::Sky(std::uint32_t seed) : engine_(seed) {}

double Sky::NextUnit() {
    // mt19937 yields exactly 32 random bits per call whatever the width of its result type.
    return static_cast<double>(engine_() & 0xFFFFFFFFu) / 4294967296.0;
}

std::vector<SatelliteInView> Sky::Observe(double seconds, bool receiving) {
    std::vector<SatelliteInView> in_view;
    for (const Orbit& orbit : kConstellation) {
        const double noise = NextUnit();
        const double blocked = NextUnit();

        const double elevation =
            orbit.mid_elevation_deg +
            orbit.elevation_swing_deg *
                std::sin(2.0 * std::numbers::pi * seconds / orbit.period_s + orbit.phase_rad);
        const long elevation_deg = std::lround(elevation);
        if (elevation_deg < 0) {
            continue;
        }
        long azimuth_deg =
            std::lround(std::fmod(orbit.azimuth0_deg + orbit.azimuth_rate_deg_s * seconds, 360.0));
        azimuth_deg = ((azimuth_deg % 360) + 360) % 360;

        int snr = -1;
        if (receiving && elevation >= kMinTrackedElevationDeg && blocked >= kBlockedChance) {
            // Stronger signals high in the sky, with up to 3 dB either way of noise.
            const double level = 30.0 + 16.0 * std::sin(elevation * kDegToRad) + 6.0 * noise - 3.0;
            snr = static_cast<int>(std::clamp(std::lround(level), 20L, 50L));
        }
        in_view.push_back(SatelliteInView{orbit.prn, static_cast<int>(elevation_deg),
                                          static_cast<int>(azimuth_deg), snr});
    }
    return in_view;
}

std::vector<SatelliteInView> SelectUsed(const std::vector<SatelliteInView>& in_view) {
    std::vector<SatelliteInView> used;
    for (const SatelliteInView& sat : in_view) {
        if (sat.snr_db >= 0 && sat.elevation_deg >= kMinUsedElevationDeg) {
            used.push_back(sat);
        }
    }
    if (used.size() > 12) {
        std::stable_sort(used.begin(), used.end(),
                         [](const SatelliteInView& a, const SatelliteInView& b) {
                             return a.elevation_deg > b.elevation_deg;
                         });
        used.resize(12);
    }
    std::sort(used.begin(), used.end(),
              [](const SatelliteInView& a, const SatelliteInView& b) { return a.prn < b.prn; });
    return used;
}

}  // namespace zntr::hotspot
