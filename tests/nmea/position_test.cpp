// The position sentences GGA, VTG, RMC and GLL, decoded into the fix record.
#include <gtest/gtest.h>

#include "nmea_test_support.h"

namespace {

using zntr::test::Feed;
using zntr::test::WithChecksum;

class PositionTest : public ::testing::Test {
  protected:
    cNMEAParser parser_;
};

TEST_F(PositionTest, GgaWithAFixFillsEveryMemberItWrites) {
    ASSERT_EQ(Feed(parser_, WithChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,"
                                         "46.9,M,,")),
              NMEA_GPGGA);
    EXPECT_EQ(parser_.mUTCTime, 123519.0);
    EXPECT_EQ(parser_.mLatitude, 48.1173);
    EXPECT_DOUBLE_EQ(parser_.mLongitude, 11.516666666666667);
    EXPECT_EQ(parser_.mFixQuality, 1);
    EXPECT_EQ(parser_.mSatellitesUsed, 8);
    EXPECT_EQ(parser_.mHDOP, 0.9);
    EXPECT_EQ(parser_.mAltitude, 545.4);
    EXPECT_EQ(parser_.mGeoidSeparation, 46.9);
    EXPECT_EQ(parser_.mTrueCourse, NO_DOUBLE_VALUE) << "not a GGA member";
}

TEST_F(PositionTest, GgaWithoutAFixSetsMarkers) {
    Feed(parser_, WithChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
    ASSERT_EQ(Feed(parser_, WithChecksum("GPGGA,123520,,,,,0,00,,,M,,M,,")), NMEA_GPGGA);
    EXPECT_EQ(parser_.mUTCTime, 123520.0);
    EXPECT_EQ(parser_.mLatitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(parser_.mLongitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(parser_.mFixQuality, 0);
    EXPECT_EQ(parser_.mSatellitesUsed, 0);
    EXPECT_EQ(parser_.mHDOP, NO_DOUBLE_VALUE);
    EXPECT_EQ(parser_.mAltitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(parser_.mGeoidSeparation, NO_DOUBLE_VALUE);
}

TEST_F(PositionTest, FieldsMissingAtTheEndLeaveTheirMembers) {
    Feed(parser_, WithChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
    // Cut after the HDOP: altitude and separation are not there at all.
    ASSERT_EQ(Feed(parser_, WithChecksum("GPGGA,123600,4807.500,N,01131.000,E,2,09,1.1")),
              NMEA_GPGGA);
    EXPECT_EQ(parser_.mHDOP, 1.1);
    EXPECT_EQ(parser_.mAltitude, 545.4);
    EXPECT_EQ(parser_.mGeoidSeparation, 46.9);
}

TEST_F(PositionTest, VtgReadsCoursesAndKnots) {
    ASSERT_EQ(Feed(parser_, WithChecksum("GPVTG,054.7,T,034.4,M,005.5,N,010.2,K")), NMEA_GPVTG);
    EXPECT_EQ(parser_.mTrueCourse, 54.7);
    EXPECT_EQ(parser_.mMagneticCourse, 34.4);
    EXPECT_EQ(parser_.mSpeedKnots, 5.5);
    ASSERT_EQ(Feed(parser_, WithChecksum("GPVTG,054.7,T,,M,005.5,N,010.2,K,A")), NMEA_GPVTG);
    EXPECT_EQ(parser_.mMagneticCourse, NO_DOUBLE_VALUE) << "empty magnetic course";
    EXPECT_EQ(parser_.mSpeedKnots, 5.5) << "the speed is still read";
}

TEST_F(PositionTest, RmcIsDecodedOnlyWithAnUpperCaseA) {
    ASSERT_EQ(Feed(parser_, WithChecksum("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,"
                                         "230394,003.1,W")),
              NMEA_GPRMC);
    EXPECT_EQ(parser_.mUTCTime, 123519.0);
    EXPECT_EQ(parser_.mLatitude, 48.1173);
    EXPECT_EQ(parser_.mSpeedKnots, 22.4);
    EXPECT_EQ(parser_.mTrueCourse, 84.4);
    EXPECT_EQ(parser_.mMagneticVariation, 3.1) << "no sign: the W is not read";

    for (const char* status : {"V", "a", ""}) {
        const std::string body =
            std::string("GPRMC,235959,") + status + ",5000.000,S,00100.000,W,001.0,001.0,230394,,";
        EXPECT_EQ(Feed(parser_, WithChecksum(body)), NMEA_GPRMC) << status;
        EXPECT_EQ(parser_.mUTCTime, 123519.0) << "status " << status << " writes nothing";
        EXPECT_EQ(parser_.mLatitude, 48.1173);
        EXPECT_EQ(parser_.mSpeedKnots, 22.4);
    }
}

TEST_F(PositionTest, RmcWithAnEmptyTimeStillDecodes) {
    ASSERT_EQ(Feed(parser_, WithChecksum("GPRMC,,A,4807.038,N,01131.000,E,022.4,084.4,230394,,")),
              NMEA_GPRMC);
    EXPECT_EQ(parser_.mUTCTime, NO_DOUBLE_VALUE);
    EXPECT_EQ(parser_.mLatitude, 48.1173);
    EXPECT_EQ(parser_.mMagneticVariation, NO_DOUBLE_VALUE);
}

TEST_F(PositionTest, GllStatusIsTheSixthField) {
    ASSERT_EQ(Feed(parser_, WithChecksum("GPGLL,4916.45,N,12311.12,W,225444,A")), NMEA_GPGLL)
        << "six fields, status right before the star";
    EXPECT_DOUBLE_EQ(parser_.mLatitude, 49.0 + 16.45 / 60.0);
    EXPECT_DOUBLE_EQ(parser_.mLongitude, -(123.0 + 11.12 / 60.0));
    EXPECT_EQ(parser_.mUTCTime, 225444.0);
    ASSERT_EQ(Feed(parser_, WithChecksum("GPGLL,1000.00,S,01000.00,E,010101,V,N")), NMEA_GPGLL);
    EXPECT_EQ(parser_.mUTCTime, 225444.0) << "status V writes nothing";
}

}  // namespace
