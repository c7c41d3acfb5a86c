#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace zntr::hotspot {

// One satellite above the horizon as a receiver reports it.
struct SatelliteInView {
    int prn;
    int elevation_deg;  // 0..90
    int azimuth_deg;    // 0..359
    int snr_db;         // carrier-to-noise in dB-Hz; -1 when the satellite is not tracked

    friend bool operator==(const SatelliteInView&, const SatelliteInView&) = default;
};

// Dilutions of precision of a satellite geometry.
struct Dilution {
    double pdop;
    double hdop;
    double vdop;
};

// Dilutions of a position-and-clock solution from the given satellites, computed from their
// elevations and azimuths alone (SNRs are ignored): the square roots of the diagonal of
// (G^T G)^-1, G holding one row (line-of-sight east, north, up, 1) per satellite. Hence
// pdop^2 == hdop^2 + vdop^2, and removing a satellite never improves a value. Empty when
// fewer than four satellites are given or their geometry fixes no position.
std::optional<Dilution> ComputeDilution(std::span<const SatelliteInView> satellites);

// The sky over the receiver: a fixed constellation whose satellites rise, set and move in
// azimuth slowly and deterministically with time, with SNRs drawn from a seeded generator.
class Sky {
  public:
    explicit Sky(std::uint32_t seed);

    // Satellites above the horizon `seconds` after midnight of the track's first day, in
    // ascending PRN order. With `receiving` false (antenna blocked) none is tracked. Each call
    // draws the same number of values from the generator whatever it returns, so that the
    // SNRs of a given call depend only on the seed and the number of calls before it.
    std::vector<SatelliteInView> Observe(double seconds, bool receiving);

  private:
    // Uniform in [0, 1), built from the raw 32-bit engine output so that the sequence is the
    // same with every standard library.
    double NextUnit();

    std::mt19937 engine_;
};

// The satellites a receiver would use for a fix among `in_view`: those tracked and at least
// kMinUsedElevationDeg high, at most twelve (the highest ones), in ascending PRN order.
inline constexpr int kMinUsedElevationDeg = 10;
std::vector<SatelliteInView> SelectUsed(const std::vector<SatelliteInView>& in_view);

}  // namespace zntr::hotspot
