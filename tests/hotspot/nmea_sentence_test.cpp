#include <gtest/gtest.h>

#include <stdexcept>

#include "track/nmea_fields.h"
#include "track/nmea_sentence.h"

namespace zntr::hotspot {
namespace {

TEST(NmeaSentence, ChecksumAndFraming) {
    EXPECT_EQ(NmeaChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), 0x47);
    EXPECT_EQ(FormatSentence("J"), "$J*4A\r\n");  // upper-case hex
    EXPECT_THROW(FormatSentence("GPGGA*12"), std::invalid_argument);
    EXPECT_THROW(FormatSentence("$GPGGA"), std::invalid_argument);
    EXPECT_THROW(FormatSentence("GPGGA\r\n"), std::invalid_argument);
}

TEST(NmeaFields, AnglesCarryRoundedMinutesIntoDegrees) {
    EXPECT_EQ(LatitudeField(47.9999999).value, "4800.0000");
    const AngleField west = LongitudeField(-122.5);
    EXPECT_EQ(west.value + west.hemisphere, "12230.0000W");
    const AngleField south = LatitudeField(-33.86785);
    EXPECT_EQ(south.value + south.hemisphere, "3352.0710S");
    EXPECT_EQ(LatitudeField(-1e-9).hemisphere, 'N');  // rounds to zero: no sign to show
}

TEST(NmeaFields, NumbersStayInTheirRanges) {
    EXPECT_EQ(FixedDecimal(-0.04, 1), "0.0");
    EXPECT_EQ(FixedDecimal(-12.36, 1), "-12.4");
    EXPECT_EQ(DirectionField(359.96), "0.0");
    EXPECT_EQ(DirectionField(-3.1), "356.9");
    EXPECT_EQ(DirectionField(725.25), "5.3");
    EXPECT_EQ(TimeField(8639999, 2), "235959.99");
    EXPECT_EQ(TimeField(8639999, 1), "235959.9");  // truncated, never 240000.0
    EXPECT_EQ(TimeField(4530712, 2), "123507.12");
    EXPECT_EQ(DateField(CalendarDate{2026, 1, 9}), "090126");
}

}  // namespace
}  // namespace zntr::hotspot
