// The proprietary fix report PQXFI.
#include <gtest/gtest.h>

#include "nmea_test_support.h"

namespace {

using zntr::test::Feed;
using zntr::test::WithChecksum;

TEST(PqxfiTest, ReadsTimePositionAltitudeAndErrorEstimate) {
    cNMEAParser parser;
    ASSERT_EQ(Feed(parser, WithChecksum("PQXFI,123519,4807.038,N,01131.000,W,545.4,12.5,20.1,0.3")),
              NMEA_PQXFI);
    double latitude = 0, longitude = 0, altitude = 0, utcTime = 0, errorRadius = 0;
    EXPECT_EQ(parser.GetPQXFIData(latitude, longitude, altitude, utcTime, errorRadius), S_OK);
    EXPECT_EQ(utcTime, 123519.0);
    EXPECT_EQ(latitude, 48.1173);
    EXPECT_DOUBLE_EQ(longitude, -11.516666666666667);
    EXPECT_EQ(altitude, 545.4);
    EXPECT_EQ(errorRadius, 12.5);
}

TEST(PqxfiTest, WithoutAPositionSetsBothCoordinatesToTheMarker) {
    cNMEAParser parser;
    Feed(parser, WithChecksum("PQXFI,123519,4807.038,N,01131.000,W,545.4,12.5"));
    ASSERT_EQ(Feed(parser, WithChecksum("PQXFI,123520,,,,,600.5,30.0")), NMEA_PQXFI);
    EXPECT_EQ(parser.mLatitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(parser.mLongitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(parser.mAltitude, 600.5);
    EXPECT_EQ(parser.mErrorRadius, 30.0);
}

TEST(PqxfiTest, ReplacesTheAltitudeOfAnEarlierGga) {
    cNMEAParser parser;
    Feed(parser, WithChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
    Feed(parser, WithChecksum("PQXFI,123520,4807.038,N,01131.000,E,550.0,4.0"));
    EXPECT_EQ(parser.mAltitude, 550.0);
    EXPECT_EQ(parser.mGeoidSeparation, 46.9) << "only the shared members change";
}

}  // namespace
