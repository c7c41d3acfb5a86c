// zntr decode as a process: the shape of every JSON line, and its errors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "process.h"

namespace {

using zntr::test::Quoted;
using zntr::test::RunCommand;

const std::vector<std::string> kFixKeys = {"mLatitude",
                                           "mLongitude",
                                           "mAltitude",
                                           "mTrueCourse",
                                           "mSpeedKnots",
                                           "mFixQuality",
                                           "mSatellitesInView",
                                           "mUTCTime",
                                           "mGSVMessageCount",
                                           "mGSVMessageNumber",
                                           "mHDOP",
                                           "mGeoidSeparation",
                                           "mErrorRadius",
                                           "mFixMode",
                                           "mMagneticCourse",
                                           "mMagneticVariation",
                                           "mPDOP",
                                           "mVDOP",
                                           "mSatellitesInViewList",
                                           "mSatellitesUsed",
                                           "mSatellitePRNs",
                                           "mPendingData"};

std::vector<nlohmann::ordered_json> DecodeLines(const std::string& input) {
    const auto result =
        RunCommand("printf '%b' " + Quoted(input) + " | " ZNTR_BINARY " decode --fix");
    EXPECT_EQ(result.status, 0);
    std::vector<nlohmann::ordered_json> lines;
    std::istringstream stream(result.output);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(nlohmann::ordered_json::parse(line));
    }
    return lines;
}

TEST(DecodeCliTest, EveryLineCarriesTheWholeFixRecordInMemberOrder) {
    const auto lines = DecodeLines(
        "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\\r\\n"
        "$GPGSV,1,1,01,07,40,083,*40\\r\\n"
        "$GPGGA,1*00\\r\\n"
        "$GPRMC,1");
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        std::vector<std::string> keys;
        for (const auto& item : line.items()) {
            keys.push_back(item.key());
        }
        EXPECT_EQ(keys, (std::vector<std::string>{"line", "code", "fix", "log"}));
        EXPECT_EQ(line["line"], i + 1);
        std::vector<std::string> fixKeys;
        for (const auto& item : line["fix"].items()) {
            fixKeys.push_back(item.key());
        }
        EXPECT_EQ(fixKeys, kFixKeys);
    }
    EXPECT_EQ(lines[0]["code"], 0);
    EXPECT_EQ(lines[0]["fix"]["mLatitude"], 48.1173);
    EXPECT_EQ(lines[0]["fix"]["mFixQuality"], 1);
    EXPECT_EQ(lines[0]["fix"]["mTrueCourse"], 1.7976931348623157e308);
    EXPECT_EQ(lines[1]["code"], 5);
    EXPECT_EQ(lines[1]["fix"]["mSatellitesInViewList"],
              nlohmann::ordered_json::parse(
                  R"([{"PRN":7,"Elevation":40,"Azimuth":83,"SNR":1.7976931348623157e+308}])"));
    EXPECT_EQ(lines[2]["code"], -1);
    EXPECT_EQ(lines[2]["log"],
              nlohmann::json::array({"Invalid checksum: expect 0x4B, received 0x00\n"}));
    EXPECT_EQ(lines[3]["fix"]["mPendingData"], "$GPRMC,1");
    EXPECT_EQ(lines[3]["log"], nlohmann::json::array());
}

TEST(DecodeCliTest, NonFiniteNumbersAreStrings) {
    const auto lines = DecodeLines("$GPVTG,1e999,T,-1e999,M,nan,N,,K*02\\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["fix"]["mTrueCourse"], "inf");
    EXPECT_EQ(lines[0]["fix"]["mMagneticCourse"], "-inf");
    EXPECT_EQ(lines[0]["fix"]["mSpeedKnots"], "nan");
}

TEST(DecodeCliTest, ReportsErrorsWithAStatus) {
    const auto missing = RunCommand(ZNTR_BINARY " decode --fix /nonexistent/capture.nmea 2>&1");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("cannot open /nonexistent/capture.nmea"), std::string::npos);
    const auto badFlag = RunCommand(ZNTR_BINARY " decode --no-such-flag 2>&1");
    EXPECT_EQ(badFlag.status, 2);
    const auto noCommand = RunCommand(ZNTR_BINARY " 2>&1");
    EXPECT_EQ(noCommand.status, 2);
    const auto help = RunCommand(ZNTR_BINARY " decode --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--fix"), std::string::npos);
}

}  // namespace
