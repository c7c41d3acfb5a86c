// The satellite sentences: GSA lists and dilutions, GSV groups.
#include <gtest/gtest.h>

#include <vector>

#include "nmea_test_support.h"

namespace {

using zntr::test::Feed;
using zntr::test::WithChecksum;

class SatellitesTest : public ::testing::Test {
  protected:
    std::vector<double> PRNs() const {
        std::vector<double> prns;
        for (const SatelliteInfo& s : parser_.mSatellitesInViewList) {
            prns.push_back(s.PRN);
        }
        return prns;
    }
    cNMEAParser parser_;
};

TEST_F(SatellitesTest, GsaListsUsedPrnsInOrderAndTheDilutions) {
    ASSERT_EQ(Feed(parser_, WithChecksum("GPGSA,A,3,04,05,09,12,,,,,,,,,2.5,1.3,2.1")), NMEA_GPGSA);
    EXPECT_EQ(parser_.mFixMode, 3);
    EXPECT_EQ(parser_.mSatellitePRNs, (std::vector<double>{4.0, 5.0, 9.0, 12.0}));
    EXPECT_EQ(parser_.mSatellitesUsed, 4);
    EXPECT_EQ(parser_.mPDOP, 2.5);
    EXPECT_EQ(parser_.mHDOP, 1.3);
    EXPECT_EQ(parser_.mVDOP, 2.1);

    ASSERT_EQ(Feed(parser_, WithChecksum("GPGSA,A,1,,,,,,,,,,,,,,,")), NMEA_GPGSA);
    EXPECT_EQ(parser_.mFixMode, 1);
    EXPECT_TRUE(parser_.mSatellitePRNs.empty()) << "the list is rebuilt by every GSA";
    EXPECT_EQ(parser_.mSatellitesUsed, 0);
    EXPECT_EQ(parser_.mPDOP, NO_DOUBLE_VALUE) << "empty comma-ended PDOP";
    EXPECT_EQ(parser_.mHDOP, NO_DOUBLE_VALUE) << "empty comma-ended HDOP";
    EXPECT_EQ(parser_.mVDOP, 2.1) << "an empty last field leaves VDOP";
}

TEST_F(SatellitesTest, GsaSlotsMissingAltogetherAppendNothing) {
    ASSERT_EQ(Feed(parser_, WithChecksum("GPGSA,A,3,07,08")), NMEA_GPGSA);
    EXPECT_EQ(parser_.mSatellitePRNs, (std::vector<double>{7.0, 8.0}));
    EXPECT_EQ(parser_.mSatellitesUsed, 2);
}

TEST_F(SatellitesTest, GgaAndGsaShareSatellitesUsedAndHdop) {
    const std::string gga =
        WithChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    Feed(parser_, gga);
    Feed(parser_, WithChecksum("GPGSA,A,3,01,02,03,04,05,06,,,,,,,1.8,1.1,1.4"));
    EXPECT_EQ(parser_.mSatellitesUsed, 6);
    EXPECT_EQ(parser_.mHDOP, 1.1);
    Feed(parser_, gga);
    EXPECT_EQ(parser_.mSatellitesUsed, 8) << "the last sentence decoded wins";
    EXPECT_EQ(parser_.mHDOP, 0.9);
}

TEST_F(SatellitesTest, GsvAssemblesAGroupFourSatellitesAtATime) {
    Feed(parser_, WithChecksum("GPGSV,3,1,10,01,40,083,46,02,17,308,41,03,07,344,39,04,22,228,45"));
    EXPECT_EQ(parser_.mSatellitesInViewList.size(), 4u);
    Feed(parser_, WithChecksum("GPGSV,3,2,10,05,40,083,46,06,17,308,41,07,07,344,39,08,22,228,45"));
    EXPECT_EQ(parser_.mSatellitesInViewList.size(), 8u);
    Feed(parser_, WithChecksum("GPGSV,3,3,10,09,40,083,46,10,17,308,"));
    ASSERT_EQ(parser_.mSatellitesInViewList.size(), 10u);
    EXPECT_EQ(PRNs(), (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(parser_.mGSVMessageCount, 3);
    EXPECT_EQ(parser_.mGSVMessageNumber, 3);
    EXPECT_EQ(parser_.mSatellitesInView, 10);
    const SatelliteInfo& first = parser_.mSatellitesInViewList[0];
    EXPECT_EQ(first.Elevation, 40.0);
    EXPECT_EQ(first.Azimuth, 83);
    EXPECT_EQ(first.SNR, 46.0);
    EXPECT_EQ(parser_.mSatellitesInViewList[9].SNR, NO_DOUBLE_VALUE)
        << "an untracked satellite's empty SNR before the star stays at the marker";

    Feed(parser_, WithChecksum("GPGSV,3,2,10,11,40,083,46,12,17,308,41,13,07,344,39,14,22,228,45"));
    EXPECT_EQ(parser_.mSatellitesInViewList.size(), 10u) << "a full list takes no more";
    Feed(parser_, WithChecksum("GPGSV,1,1,00"));
    EXPECT_TRUE(parser_.mSatellitesInViewList.empty()) << "sentence 1 of 0 empties the list";
}

TEST_F(SatellitesTest, GsvHeaderWithoutAGroupReadsNoSatellite) {
    Feed(parser_, WithChecksum("GPGSV,1,1,01,01,40,083,46"));
    Feed(parser_, WithChecksum("GPGSV,0,1,04,05,40,083,46"));
    EXPECT_EQ(parser_.mGSVMessageCount, 0);
    EXPECT_EQ(parser_.mSatellitesInView, 4);
    EXPECT_EQ(PRNs(), std::vector<double>{1.0}) << "count 0 stops before the satellites";
}

TEST_F(SatellitesTest, GsvWithoutItsFirstSentenceFillsThePreviousList) {
    Feed(parser_, WithChecksum("GPGSV,2,1,05,01,40,083,46,02,17,308,41,03,07,344,39,04,22,228,45"));
    Feed(parser_, WithChecksum("GPGSV,2,2,06,21,40,083,46,22,17,308,41"));
    EXPECT_EQ(PRNs(), (std::vector<double>{1, 2, 3, 4, 21, 22}));
    // An empty in-view count sets no practical limit: a sentence still adds at most four.
    Feed(parser_, WithChecksum("GPGSV,2,2,,31,1,1,1,32,1,1,1,33,1,1,1,34,1,1,1,35,1,1,1"));
    EXPECT_EQ(parser_.mSatellitesInViewList.size(), 10u);
}

}  // namespace
