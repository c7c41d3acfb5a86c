// The reading update: which data fields each sentence writes, in which form, and what it leaves
// alone. Each case feeds one text to the line sink of an initialised sensor and compares every
// data field before and after.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "sensor_test_support.h"

namespace {

using zntr::test::Bytes;
using zntr::test::ComPtr;
using zntr::test::Empty;
using zntr::test::I4;
using zntr::test::PropVariant;
using zntr::test::R4;
using zntr::test::R8;
using zntr::test::SensorTest;
using zntr::test::Sentence;
using zntr::test::Stamp;
using zntr::test::Value;

struct KeyLess {
    bool operator()(const PROPERTYKEY& a, const PROPERTYKEY& b) const {
        return std::memcmp(&a, &b, sizeof(PROPERTYKEY)) < 0;
    }
};
using Fields = std::map<PROPERTYKEY, Value, KeyLess>;

// Doubles decoded from sentence text are compared to a few ulps; every other form exactly.
bool Matches(const Value& actual, const Value& expected) {
    if (actual.vt == VT_R8 && expected.vt == VT_R8) {
        return std::fabs(actual.r8 - expected.r8) <= 1e-12 * std::fabs(expected.r8);
    }
    return actual == expected;
}

class ReadingUpdateTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        ASSERT_EQ(Initialize(), S_OK);
        ConnectEvents(1);
        Log();
    }

    Fields Snapshot() {
        Fields fields;
        for (const cCatalogueEntry& entry : kSensorDataFieldCatalogue) {
            fields[entry.mKey] = DataField(entry.mKey);
        }
        return fields;
    }

    // Feeds the text and checks that exactly the expected fields changed to the expected values.
    void ExpectWrites(const std::string& legend, const std::string& text, const Fields& written) {
        const Fields before = Snapshot();
        Feed(text);
        const Fields after = Snapshot();
        for (const cCatalogueEntry& entry : kSensorDataFieldCatalogue) {
            const auto expected = written.find(entry.mKey);
            if (expected != written.end()) {
                EXPECT_TRUE(Matches(after.at(entry.mKey), expected->second))
                    << legend << ": " << entry.mName << " is "
                    << testing::PrintToString(after.at(entry.mKey));
            } else {
                EXPECT_EQ(after.at(entry.mKey), before.at(entry.mKey))
                    << legend << ": " << entry.mName << " must not change";
            }
        }
    }
};

TEST_F(ReadingUpdateTest, EachSentenceWritesItsFieldsInTheirForms) {
    struct Case {
        const char* legend;
        std::string text;
        Fields written;
    };
    const Case cases[] = {
        {"GGA: the ellipsoid altitude is the geoid separation itself; HDOP is a 32-bit float",
         "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n",
         {{SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS, R8(46.9)},
          {SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS, R8(545.4)},
          {SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION, R4(0.9)},
          {SENSOR_DATA_TYPE_LATITUDE_DEGREES, R8(48.1173)},
          {SENSOR_DATA_TYPE_LONGITUDE_DEGREES, R8(11.0 + 31.0 / 60.0)},
          {SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, I4(8)},
          {SENSOR_DATA_TYPE_FIX_QUALITY, I4(1)},
          {SENSOR_DATA_TYPE_TIMESTAMP, Stamp(12, 35, 19)}}},
        {"GGA with empty altitude and separation: the previous values stay",
         Sentence("GPGGA,123520,4807.038,N,01131.000,E,1,08,0.9,,M,,M,,"),
         {{SENSOR_DATA_TYPE_TIMESTAMP, Stamp(12, 35, 20)}}},
        {"VTG: the three headings and speed as 32-bit floats",
         "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\r\n",
         {{SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES, R4(34.4)},
          {SENSOR_DATA_TYPE_SPEED_KNOTS, R4(5.5)},
          {SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES, R4(54.7)}}},
        {"RMC: position, speed, course and time; no magnetic variation",
         Sentence("GPRMC,081836.250,A,3751.65,S,14507.36,E,000.0,360.0,130998,011.3,E"),
         {{SENSOR_DATA_TYPE_LATITUDE_DEGREES, R8(-(37.0 + 51.65 / 60.0))},
          {SENSOR_DATA_TYPE_LONGITUDE_DEGREES, R8(145.0 + 7.36 / 60.0)},
          {SENSOR_DATA_TYPE_SPEED_KNOTS, R4(0.0)},
          {SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES, R4(360.0)},
          {SENSOR_DATA_TYPE_TIMESTAMP, Stamp(8, 18, 36, 250)}}},
        {"GLL: position and time",
         Sentence("GPGLL,4916.45,N,12311.12,W,225444,A"),
         {{SENSOR_DATA_TYPE_LATITUDE_DEGREES, R8(49.0 + 16.45 / 60.0)},
          {SENSOR_DATA_TYPE_LONGITUDE_DEGREES, R8(-(123.0 + 11.12 / 60.0))},
          {SENSOR_DATA_TYPE_TIMESTAMP, Stamp(22, 54, 44)}}},
        {"GSA: fix type, dilutions, and PRNs 4, 7 and 12 as twelve little-endian bytes",
         Sentence("GPGSA,A,3,04,07,,12,,,,,,,,,2.5,1.3,2.1"),
         {{SENSOR_DATA_TYPE_FIX_TYPE, I4(3)},
          {SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION, R4(1.3)},
          {SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION, R4(2.5)},
          {SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, I4(3)},
          {SENSOR_DATA_TYPE_SATELLITES_USED_PRNS, Bytes({4, 0, 0, 0, 7, 0, 0, 0, 12, 0, 0, 0})},
          {SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION, R4(2.1)}}},
        {"GSA without PRNs: the count 0, the PRN vector kept",
         Sentence("GPGSA,A,1,,,,,,,,,,,,,,,"),
         {{SENSOR_DATA_TYPE_FIX_TYPE, I4(1)}, {SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, I4(0)}}},
        {"GSV: satellites in view are reported nowhere",
         "$GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75\r\n",
         {}},
        {"a time of day that is no clock time gives the FILETIME 0",
         Sentence("GPGLL,,,,,246000,A"),
         {{SENSOR_DATA_TYPE_TIMESTAMP,
           [] {
               Value zero = Stamp(0, 0, 0);
               zero.filetime = 0;
               return zero;
           }()}}},
    };
    for (const Case& c : cases) {
        ExpectWrites(c.legend, c.text, c.written);
    }
    EXPECT_FALSE(DataEventSet()) << "only the PQXFI update signals";
    EXPECT_FALSE(StateEventSet());
    EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(SENSOR_STATE_NO_DATA));
    EXPECT_TRUE(Log().empty());
}

TEST_F(ReadingUpdateTest, TextThatDecodesToNothingChangesNothing) {
    Feed("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    Feed(zntr::test::Pqxfi("4807.038", "01131.000"));
    ASSERT_TRUE(DataEventSet());
    StateEventSet();
    Log();
    struct Case {
        const char* legend;
        std::string text;
    };
    const Case cases[] = {
        {"a bad checksum", "$GPGGA,123521,5000.000,N,00100.000,E,1,08,0.9,545.4,M,46.9,M,,*00\r\n"},
        {"another talker", Sentence("GNGGA,123521,5000.000,N,00100.000,E,1,08,0.9,545.4,M,,M,,")},
        {"an unknown tag", Sentence("GPTXT,01,01,02,ANTENNA OK")},
        {"no dollar", "GPGGA,123521,5000.000,N,00100.000,E,1,08*00\r\n"},
        {"an unfinished sentence", "$GPGGA,123521,5000.000,N,00100.0"},
        {"an empty text", ""},
    };
    for (const Case& c : cases) {
        ExpectWrites(c.legend, c.text, {});
        EXPECT_FALSE(DataEventSet()) << c.legend;
        EXPECT_FALSE(StateEventSet()) << c.legend;
        EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(SENSOR_STATE_READY)) << c.legend;
    }
    EXPECT_FALSE(Logged(Log(), "cSensorDDI::SetSensorPQXFIData\n"));
}

TEST_F(ReadingUpdateTest, ThePrnVectorTakesAtMostSixtyFourEntriesAndSkipsTheMarker) {
    std::vector<double> prns = {NO_DOUBLE_VALUE, 7.9, -1.5, 4294967298.0, 1e20};
    while (prns.size() < 70) {
        prns.push_back(static_cast<double>(prns.size()));
    }
    Sensor().SetSensorGSAData(NO_DOUBLE_VALUE, NO_INT_VALUE, NO_DOUBLE_VALUE, NO_DOUBLE_VALUE,
                              prns);
    // 63 entries of the first 64 are not the marker; each is truncated toward zero and its low
    // 32 bits kept: 7.9 -> 7, -1.5 -> -1 -> 0xFFFFFFFF, 2^32 + 2 -> 2, 10^20 -> 0x63100000.
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_SATELLITES_USED_COUNT), I4(63));
    const Value vector = DataField(SENSOR_DATA_TYPE_SATELLITES_USED_PRNS);
    ASSERT_EQ(vector.bytes.size(), 63u * 4);
    auto word = [&](size_t i) {
        ULONG value;
        std::memcpy(&value, &vector.bytes[i * 4], 4);
        return value;
    };
    EXPECT_EQ(word(0), 7u);
    EXPECT_EQ(word(1), 0xFFFFFFFFu);
    EXPECT_EQ(word(2), 2u);
    EXPECT_EQ(word(3), 0x63100000u);
    EXPECT_EQ(word(62), 63u);
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_FIX_TYPE), Empty()) << "markers write nothing";

    // A list of nothing but the marker still had an entry: an empty vector is written.
    Sensor().SetSensorGSAData(NO_DOUBLE_VALUE, NO_INT_VALUE, NO_DOUBLE_VALUE, NO_DOUBLE_VALUE,
                              {NO_DOUBLE_VALUE});
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_SATELLITES_USED_COUNT), I4(0));
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_SATELLITES_USED_PRNS), Bytes({}));
}

TEST_F(ReadingUpdateTest, FloatFieldsRoundToNearestAndOverflowToInfinity) {
    struct Case {
        const char* legend;
        double value;
        float expected;
    };
    const Case cases[] = {
        {"0.1 to the nearest float", 0.1, 0.1f},
        {"just above FLT_MAX, below the rounding threshold", 3.40282350e38, FLT_MAX},
        {"at or past the threshold", 3.4028236e38, HUGE_VALF},
        {"negative overflow", -1e39, -HUGE_VALF},
        {"an infinite value stays infinite", HUGE_VAL, HUGE_VALF},
        {"a value below the smallest float becomes 0", 1e-50, 0.0f},
    };
    for (const Case& c : cases) {
        Sensor().SetSensorVTGData(c.value, NO_DOUBLE_VALUE, NO_DOUBLE_VALUE);
        EXPECT_EQ(DataField(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES), R4(c.expected)) << c.legend;
    }
    Sensor().SetSensorVTGData(std::nan(""), NO_DOUBLE_VALUE, NO_DOUBLE_VALUE);
    EXPECT_TRUE(std::isnan(DataField(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES).r4));
}

TEST_F(ReadingUpdateTest, NothingHappensWhileThereIsNoSensor) {
    cSensorDDI* sensor = gpSensorDDI;
    gpSensorDDI = nullptr;
    ProcessNMEALine("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    ProcessNMEALine("Dummy");
    ProcessNMEALine(nullptr);
    gpSensorDDI = sensor;
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES), Empty());
    EXPECT_EQ(Sensor().mNMEAParser.mLatitude, NO_DOUBLE_VALUE) << "the parser was not run";
    EXPECT_TRUE(Log().empty());
}

}  // namespace
