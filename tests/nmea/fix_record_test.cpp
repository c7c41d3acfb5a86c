// The fix record: markers at construction, values kept until overwritten, the accessors'
// copies, and whole sentences seen by a reader that takes mLock.
#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>
#include <vector>

#include "critical_section_lock.h"
#include "nmea_test_support.h"

namespace {

using zntr::test::Feed;
using zntr::test::WithChecksum;

TEST(FixRecordTest, StartsWithEveryNumberAtItsMarker) {
    cNMEAParser parser;
    double hdop = 0, pdop = 0, vdop = 0;
    INT fixMode = 0;
    std::vector<double> prns{1.0, 2.0};
    EXPECT_EQ(parser.GetGSAData(hdop, fixMode, pdop, vdop, prns), S_OK);
    EXPECT_EQ(hdop, NO_DOUBLE_VALUE);
    EXPECT_EQ(pdop, NO_DOUBLE_VALUE);
    EXPECT_EQ(vdop, NO_DOUBLE_VALUE);
    EXPECT_EQ(fixMode, NO_INT_VALUE);
    EXPECT_TRUE(prns.empty()) << "the list's contents are replaced";
    double lat = 0, lon = 0, alt = 0, utc = 0, err = 0;
    EXPECT_EQ(parser.GetPQXFIData(lat, lon, alt, utc, err), S_OK);
    for (double value : {lat, lon, alt, utc, err}) {
        EXPECT_EQ(value, NO_DOUBLE_VALUE);
    }
    for (INT value : {parser.mFixQuality, parser.mSatellitesInView, parser.mGSVMessageCount,
                      parser.mGSVMessageNumber, parser.mSatellitesUsed}) {
        EXPECT_EQ(value, NO_INT_VALUE);
    }
    EXPECT_EQ(NO_DOUBLE_VALUE, std::numeric_limits<double>::max());
}

TEST(FixRecordTest, AnInvalidRmcKeepsTheValidOnesValues) {
    cNMEAParser parser;
    Feed(parser, WithChecksum("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"));
    Feed(parser, WithChecksum("GPRMC,123520,V,,,,,,,230394,,"));
    EXPECT_EQ(parser.mUTCTime, 123519.0);
    EXPECT_EQ(parser.mLatitude, 48.1173);
    EXPECT_EQ(parser.mSpeedKnots, 22.4);
    EXPECT_EQ(parser.mTrueCourse, 84.4);
}

TEST(FixRecordTest, GetGSADataHandsOutACopy) {
    cNMEAParser parser;
    Feed(parser, WithChecksum("GPGSA,A,3,04,05,,,,,,,,,,,2.5,1.3,2.1"));
    double hdop = 0, pdop = 0, vdop = 0;
    INT fixMode = 0;
    std::vector<double> prns;
    parser.GetGSAData(hdop, fixMode, pdop, vdop, prns);
    EXPECT_EQ(prns, (std::vector<double>{4.0, 5.0}));
    prns.push_back(99.0);
    prns[0] = -1.0;
    EXPECT_EQ(parser.mSatellitePRNs, (std::vector<double>{4.0, 5.0}));
}

TEST(FixRecordTest, AReaderUnderTheLockSeesWholeSentences) {
    // Two positions alternate; a reader that takes mLock must never see the latitude of one
    // with the longitude of the other.
    cNMEAParser parser;
    const std::wstring first = zntr::test::Wide(WithChecksum("PQXFI,1,1000.0,N,02000.0,E,1,1"));
    const std::wstring second = zntr::test::Wide(WithChecksum("PQXFI,2,3000.0,S,04000.0,W,2,2"));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done) {
            cCriticalSectionLock lock(parser.mLock);
            const double lat = parser.mLatitude;
            const double lon = parser.mLongitude;
            const bool consistent = (lat == NO_DOUBLE_VALUE && lon == NO_DOUBLE_VALUE) ||
                                    (lat == 10.0 && lon == 20.0) || (lat == -30.0 && lon == -40.0);
            if (!consistent) {
                ++torn;
            }
        }
    });
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(parser.ParseNMEAData(i % 2 ? first : second), NMEA_PQXFI);
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
