// Hostile and broken input: whatever the bytes and however the stream is cut into pieces, the
// reader returns a defined code, keeps its carried-over text well formed, and ends in the same
// state as when the same bytes arrive in other pieces.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "debug_log.h"
#include "nmea_test_support.h"
#include "standin/control.h"
#include "track/synthetic_track.h"

namespace {

// Every fix-record member and the carried-over text, for comparing two parsers.
std::wstring Snapshot(const cNMEAParser& p) {
    std::wstring text;
    for (double value : {p.mLatitude, p.mLongitude, p.mAltitude, p.mTrueCourse, p.mSpeedKnots,
                         p.mUTCTime, p.mHDOP, p.mGeoidSeparation, p.mErrorRadius, p.mMagneticCourse,
                         p.mMagneticVariation, p.mPDOP, p.mVDOP}) {
        text += std::to_wstring(value) + L";";
    }
    for (INT value : {p.mFixQuality, p.mSatellitesInView, p.mGSVMessageCount, p.mGSVMessageNumber,
                      p.mFixMode, p.mSatellitesUsed}) {
        text += std::to_wstring(value) + L";";
    }
    for (const SatelliteInfo& s : p.mSatellitesInViewList) {
        text += std::to_wstring(s.PRN) + L"/" + std::to_wstring(s.Elevation) + L"/" +
                std::to_wstring(s.Azimuth) + L"/" + std::to_wstring(s.SNR) + L";";
    }
    for (double prn : p.mSatellitePRNs) {
        text += std::to_wstring(prn) + L",";
    }
    return text + L"|" + p.mPendingData;
}

// A stream of real-looking sentences, damaged here and there: bytes flipped, sentences cut,
// "$", "*", "," and line feeds inserted, binary bytes (never NUL) between sentences.
std::string DamagedStream(std::mt19937& random) {
    std::string clean = zntr::hotspot::RenderCapture({}, 30);
    std::string damaged;
    for (char c : clean) {
        const unsigned roll = random() % 1000;
        if (roll < 3) {
            damaged.push_back(static_cast<char>(1 + random() % 255));
        } else if (roll < 5) {
            damaged.push_back("$*,\n\r"[random() % 5]);
            damaged.push_back(c);
        } else if (roll < 6) {
            continue;  // a byte lost
        } else {
            damaged.push_back(c);
        }
    }
    return damaged;
}

class RobustnessTest : public ::testing::Test {
  protected:
    void SetUp() override { gEnableLog = 1; }
    void TearDown() override { gEnableLog = 0; }
    zntr::platform::DebugOutputCapture capture_;
};

TEST_F(RobustnessTest, PiecesOfAnySizeEndInTheSameStateAsWholeLines) {
    std::mt19937 random(2024);
    for (int round = 0; round < 20; ++round) {
        const std::string stream = DamagedStream(random);
        cNMEAParser byLines;
        cNMEAParser byPieces;
        for (size_t start = 0; start < stream.size();) {
            const size_t end = std::min(stream.find('\n', start), stream.size() - 1) + 1;
            zntr::test::Feed(byLines, stream.substr(start, end - start));
            start = end;
        }
        for (size_t start = 0; start < stream.size();) {
            const size_t length = 1 + random() % 200;
            const NMEASentenceType code = zntr::test::Feed(byPieces, stream.substr(start, length));
            ASSERT_GE(code, NMEA_NONE);
            ASSERT_LE(code, NMEA_PQXFI);
            ASSERT_TRUE(byPieces.mPendingData.empty() || byPieces.mPendingData[0] == L'$');
            ASSERT_EQ(byPieces.mPendingData.find(L'\n'), std::wstring::npos);
            start += length;
        }
        ASSERT_EQ(Snapshot(byPieces), Snapshot(byLines)) << "round " << round;
        EXPECT_LE(byLines.mSatellitePRNs.size(), 12u);
        capture_.Take();
    }
}

TEST_F(RobustnessTest, TheUndamagedStreamDecodesEverySentence) {
    // The reference for the damaged runs: the clean drive decodes sentence for sentence.
    const std::string stream = zntr::hotspot::RenderCapture({}, 30);
    cNMEAParser parser;
    int sentences = 0;
    int decoded = 0;
    for (size_t start = 0; start < stream.size();) {
        const size_t end = stream.find('\n', start) + 1;
        ++sentences;
        decoded += zntr::test::Feed(parser, stream.substr(start, end - start)) != NMEA_NONE;
        start = end;
    }
    EXPECT_EQ(decoded, sentences);
    EXPECT_TRUE(capture_.Take().empty());
}

}  // namespace
