// The reader: framing across calls, the checksum test and identification by tag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "debug_log.h"
#include "nmea_test_support.h"
#include "standin/control.h"

namespace {

using zntr::test::Feed;
using zntr::test::WithChecksum;

constexpr const char* kGGA = "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
constexpr const char* kVTG = "GPVTG,054.7,T,034.4,M,005.5,N,010.2,K";

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { gEnableLog = 1; }
    void TearDown() override { gEnableLog = 0; }
    std::vector<std::string> Log() { return capture_.Take(); }

    zntr::platform::DebugOutputCapture capture_;
    cNMEAParser parser_;
};

TEST_F(ReaderTest, IdentifiesEachKnownTagByItsCode) {
    const struct {
        const char* body;
        NMEASentenceType code;
    } cases[] = {
        {kGGA, NMEA_GPGGA},
        {kVTG, NMEA_GPVTG},
        {"GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", NMEA_GPRMC},
        {"GPRMC,123519,V,,,,,,,230394,,", NMEA_GPRMC},  // decodes nothing, code all the same
        {"GPGLL,4916.45,N,12311.12,W,225444,A,", NMEA_GPGLL},
        {"GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1", NMEA_GPGSA},
        {"GPGSV,1,1,01,01,40,083,46", NMEA_GPGSV},
        {"PQXFI,123519.0,4807.038,N,01131.000,W,545.4,12.5", NMEA_PQXFI},
        {"GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", NMEA_NONE},
        {"GPGGAX,123519", NMEA_NONE},  // longer tag
        {"gpgga,123519", NMEA_NONE},   // case matters
        {"GPZDA,201530.00,04,07,2002,00,00", NMEA_NONE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Feed(parser_, WithChecksum(c.body)), c.code) << c.body;
    }
    EXPECT_TRUE(Log().empty());
}

TEST_F(ReaderTest, AnUnknownTalkerWritesNothing) {
    EXPECT_EQ(
        Feed(parser_, WithChecksum("GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,,,")),
        NMEA_NONE);
    EXPECT_EQ(parser_.mLatitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(parser_.mUTCTime, NO_DOUBLE_VALUE);
}

TEST_F(ReaderTest, ChecksumDigitsAreReadAsStrtolReadsThemAfterTrimming) {
    // The XOR of this body is 0x47.
    const std::string body = std::string("$") + kGGA + "*";
    const struct {
        std::string tail;
        bool passes;
        const char* legend;
    } cases[] = {
        {"47\r\n", true, "CR LF trimmed"},
        {"47", true, "no line end"},
        {" \t47 \r\n", true, "white space around the digits"},
        {"047\r\n", false, "three digits"},
        {"4\r\n", false, "one digit"},
        {"47x\r\n", false, "a character behind the digits"},
        {"\r\n", false, "no digits"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parser_.VerifyChecksum(zntr::test::Wide(body + c.tail)), c.passes) << c.legend;
    }
    EXPECT_TRUE(Log().empty()) << "malformed digits fail without a log line";
    EXPECT_TRUE(parser_.VerifyChecksum(
        L"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a"))
        << "lower-case hexadecimal digits";
    // strtol takes a sign: "+F" is 15, "-1" is 0xFF in its low 8 bits.
    EXPECT_TRUE(parser_.VerifyChecksum(L"$\x0F*+F"));
    EXPECT_TRUE(parser_.VerifyChecksum(L"$\xFF*-1"));
}

TEST_F(ReaderTest, AWrongChecksumLogsComputedThenReceivedAndChangesNothing) {
    EXPECT_EQ(Feed(parser_, std::string("$") + kGGA + "*48\r\n"), NMEA_NONE);
    EXPECT_EQ(Log(), std::vector<std::string>{"Invalid checksum: expect 0x47, received 0x48\n"});
    EXPECT_EQ(parser_.mLatitude, NO_DOUBLE_VALUE);
    EXPECT_EQ(Feed(parser_, std::string("$") + kGGA + "*1FF\r\n"), NMEA_NONE)
        << "three digits: silent";
    EXPECT_TRUE(Log().empty());
}

TEST_F(ReaderTest, TheLastStarDelimitsTheChecksumAndEarlierStarsCount) {
    const std::string sentence = WithChecksum("GPVTG,054.7,T*,034.4,M,005.5,N,010.2,K");
    EXPECT_EQ(Feed(parser_, sentence), NMEA_GPVTG);
    EXPECT_EQ(parser_.mTrueCourse, 54.7);
    EXPECT_EQ(parser_.mSpeedKnots, 5.5);
}

TEST_F(ReaderTest, FramesSentencesAcrossCallsAndDropsNoise) {
    const std::string gga = WithChecksum(kGGA);
    // Split in two: the first call keeps the part, the second completes it.
    EXPECT_EQ(Feed(parser_, gga.substr(0, 30)), NMEA_NONE);
    EXPECT_EQ(parser_.mPendingData, zntr::test::Wide(gga.substr(0, 30)));
    EXPECT_EQ(Feed(parser_, gga.substr(30)), NMEA_GPGGA);
    EXPECT_TRUE(parser_.mPendingData.empty());
    EXPECT_EQ(parser_.mLatitude, 48.1173);

    EXPECT_EQ(Feed(parser_, "noise" + WithChecksum(kVTG)), NMEA_GPVTG) << "noise before $";
    EXPECT_EQ(Feed(parser_, WithChecksum(kGGA) + WithChecksum(kVTG)), NMEA_GPVTG)
        << "two sentences: the last one's code";
    EXPECT_EQ(Feed(parser_, WithChecksum(kVTG) + "$GPGGA,1*00\r\n"), NMEA_NONE)
        << "a good sentence then a bad one: the bad one's result";
    EXPECT_EQ(parser_.mSpeedKnots, 5.5) << "the good sentence was decoded all the same";
    Log();
}

TEST_F(ReaderTest, ABrokenSentenceSwallowsTheNextUpToItsLineFeed) {
    const std::string vtg = WithChecksum(kVTG);
    EXPECT_EQ(Feed(parser_, "$GPGGA,1235"), NMEA_NONE);
    EXPECT_EQ(Feed(parser_, vtg), NMEA_NONE);
    EXPECT_EQ(Log().size(), 1u) << "the joined sentence fails its checksum, logged";
    EXPECT_EQ(parser_.mTrueCourse, NO_DOUBLE_VALUE);
}

TEST_F(ReaderTest, PendingTextIsKeptOrDroppedByWhatTheNextTextHolds) {
    EXPECT_EQ(Feed(parser_, "no dollar here\r\n"), NMEA_NONE);
    EXPECT_TRUE(parser_.mPendingData.empty());

    EXPECT_EQ(Feed(parser_, "$GPGGA,12"), NMEA_NONE);
    EXPECT_EQ(parser_.ParseNMEAData(L""), NMEA_NONE) << "empty text";
    EXPECT_EQ(parser_.mPendingData, L"$GPGGA,12") << "empty text leaves the tail alone";
    EXPECT_EQ(Feed(parser_, "3519,48"), NMEA_NONE) << "no line feed: appended";
    EXPECT_EQ(parser_.mPendingData, L"$GPGGA,123519,48");
    // Text without "$" is noise only when nothing is carried over; behind a carried sentence
    // it has no "\n" and joins the sentence like any other text.
    EXPECT_EQ(Feed(parser_, "Dummy"), NMEA_NONE);
    EXPECT_EQ(parser_.mPendingData, L"$GPGGA,123519,48Dummy");
    EXPECT_EQ(Feed(parser_, "tail*00\r\n"), NMEA_NONE) << "completed, failing its checksum";
    EXPECT_TRUE(parser_.mPendingData.empty());
    EXPECT_EQ(Log().size(), 1u);
    EXPECT_EQ(Feed(parser_, "Dummy"), NMEA_NONE);
    EXPECT_TRUE(parser_.mPendingData.empty()) << "nothing carried: noise is dropped";
}

TEST_F(ReaderTest, DegenerateSentences) {
    EXPECT_EQ(Feed(parser_, "$\n"), NMEA_NONE);
    EXPECT_TRUE(Log().empty()) << "the sentence \"$\" has no \"*\": silent";
    EXPECT_TRUE(parser_.VerifyChecksum(L"$*00")) << "nothing between $ and * XORs to 0";
    EXPECT_EQ(Feed(parser_, "$*00\r\n"), NMEA_NONE) << "no comma";
    EXPECT_EQ(Feed(parser_, "$$$$\n"), NMEA_NONE);
    EXPECT_FALSE(parser_.VerifyChecksum(L""));
    EXPECT_TRUE(Log().empty());
}

TEST_F(ReaderTest, LongAndBinaryTextNeverBreaksTheReader) {
    std::string huge = "$GPGGA," + std::string(100000, '9') + ",N";
    huge += "*00\r\n";
    EXPECT_EQ(Feed(parser_, huge), NMEA_NONE);
    EXPECT_EQ(Log().size(), 1u) << "a long sentence is converted on the heap and checked";

    std::string binary;
    for (int i = 1; i < 256; ++i) {
        binary.push_back(static_cast<char>(i));
    }
    EXPECT_EQ(Feed(parser_, binary + binary + "\n"), NMEA_NONE);
    EXPECT_TRUE(parser_.mPendingData.empty()) << "every $ in the bytes is followed by a \\n";
    EXPECT_EQ(Feed(parser_, WithChecksum(kVTG)), NMEA_GPVTG) << "and the reader goes on";
    Log();
}

}  // namespace
