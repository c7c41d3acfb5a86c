#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "track/sky.h"

namespace zntr::hotspot {
namespace {

TEST(Dilution, KnownGeometryOfZenithAndThreeHorizonSatellites) {
    // One satellite overhead and three on the horizon 120 degrees apart: G^T G is
    // diag(1.5, 1.5) for east/north and [[1, 1], [1, 4]] for up/clock, so that
    // hdop^2 = 2/3 + 2/3 and vdop^2 = 4/3.
    const std::vector<SatelliteInView> sats = {
        {1, 90, 0, 40}, {2, 0, 0, 40}, {3, 0, 120, 40}, {4, 0, 240, 40}};
    const auto dop = ComputeDilution(sats);
    ASSERT_TRUE(dop.has_value());
    EXPECT_NEAR(dop->hdop, std::sqrt(4.0 / 3.0), 1e-9);
    EXPECT_NEAR(dop->vdop, std::sqrt(4.0 / 3.0), 1e-9);
    EXPECT_NEAR(dop->pdop, std::sqrt(8.0 / 3.0), 1e-9);

    EXPECT_FALSE(
        ComputeDilution(std::vector<SatelliteInView>(sats.begin(), sats.end() - 1)).has_value());
    const std::vector<SatelliteInView> one_spot(5, SatelliteInView{1, 45, 90, 40});
    EXPECT_FALSE(ComputeDilution(one_spot).has_value());
}

TEST(Dilution, DroppingSatellitesNeverImprovesIt) {
    std::vector<SatelliteInView> sats = {{2, 72, 15, 45},   {5, 41, 88, 40},   {7, 18, 160, 33},
                                         {9, 55, 215, 44},  {12, 26, 290, 36}, {13, 12, 340, 30},
                                         {15, 63, 130, 43}, {17, 33, 250, 38}};
    auto previous = ComputeDilution(sats);
    ASSERT_TRUE(previous.has_value());
    while (sats.size() > 4) {
        sats.pop_back();
        const auto current = ComputeDilution(sats);
        ASSERT_TRUE(current.has_value());
        EXPECT_GE(current->hdop, previous->hdop - 1e-12);
        EXPECT_GE(current->vdop, previous->vdop - 1e-12);
        EXPECT_NEAR(current->pdop * current->pdop,
                    current->hdop * current->hdop + current->vdop * current->vdop, 1e-9);
        previous = current;
    }
    EXPECT_GT(previous->pdop, 2.0);  // four satellites are markedly worse than eight
}

TEST(SelectUsed, KeepsTheTwelveHighestTrackedSatellitesInPrnOrder) {
    std::vector<SatelliteInView> in_view;
    for (int prn = 16; prn >= 1; --prn) {
        in_view.push_back({prn, 10 + prn * 4, prn * 20, 40});
    }
    in_view[15].elevation_deg = kMinUsedElevationDeg - 1;  // PRN 1 too low
    in_view[12].snr_db = -1;                               // PRN 4 not tracked
    const auto used = SelectUsed(in_view);
    std::vector<int> prns;
    for (const auto& sat : used) {
        prns.push_back(sat.prn);
    }
    // Of the fourteen left, the two lowest (PRNs 2 and 3) give way.
    EXPECT_EQ(prns, (std::vector<int>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
}

}  // namespace
}  // namespace zntr::hotspot
