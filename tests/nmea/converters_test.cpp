// Field converters: what each reads from the front of the field text, what it removes, and the
// markers for empty and missing fields.
#include <gtest/gtest.h>

#include <string>

#include "nmea_parser.h"

namespace {

class ConvertersTest : public ::testing::Test {
  protected:
    cNMEAParser parser_;
};

TEST_F(ConvertersTest, GetDoubleFieldReadsCommaEndedAndLastFields) {
    const struct {
        const wchar_t* text;
        double before;
        double expected;
        const wchar_t* rest;
        const char* legend;
    } cases[] = {
        {L"12.5,N", 0.0, 12.5, L"N", "comma-ended field"},
        {L",,x", 7.0, NO_DOUBLE_VALUE, L",x", "empty field: marker, one comma left"},
        {L"12.5*4F\r\n", 0.0, 12.5, L"4F\r\n", "last field before the checksum"},
        {L"4F\r\n", 7.0, 7.0, L"4F\r\n", "no field left: unchanged"},
        {L"*4F", 7.0, 7.0, L"*4F", "empty last field: unchanged"},
        {L"", 7.0, 7.0, L"", "empty text: unchanged"},
        {L"abc,", 7.0, 0.0, L"", "not a number reads as 0"},
        {L" 3.5e1 ,", 7.0, 35.0, L"", "read as _wtof reads"},
        {L"1*2,3", 7.0, 1.0, L"3", "a comma wins over an earlier star"},
    };
    for (const auto& c : cases) {
        std::wstring_view fields = c.text;
        double value = c.before;
        parser_.GetDoubleField(fields, value);
        EXPECT_EQ(value, c.expected) << c.legend;
        EXPECT_EQ(fields, c.rest) << c.legend;
    }
}

TEST_F(ConvertersTest, GetIntFieldReadsIntegersWithItsOwnMarker) {
    const struct {
        const wchar_t* text;
        INT expected;
        const char* legend;
    } cases[] = {
        {L"08,", 8, "leading zero"},
        {L",", NO_INT_VALUE, "empty field"},
        {L"12.7,", 12, "stops at the point"},
        {L"-3*00", -3, "last field"},
        {L"99999999999,", 2147483647, "clamps as the Windows runtime does"},
        {L"x,", 0, "not a number"},
    };
    for (const auto& c : cases) {
        std::wstring_view fields = c.text;
        INT value = 5;
        parser_.GetIntField(fields, value);
        EXPECT_EQ(value, c.expected) << c.legend;
    }
}

TEST_F(ConvertersTest, CoordinatesReadFixedWidthDegreesAndExactHemispheres) {
    const struct {
        const wchar_t* text;
        bool longitude;
        double expected;
        const wchar_t* rest;
        const char* legend;
    } cases[] = {
        {L"4807.038,N,rest", false, 48.1173, L"rest", "north"},
        {L"4807.038,S,rest", false, -48.1173, L"rest", "south"},
        {L"4807.038,s,rest", false, 48.1173, L"rest", "lower-case s stays positive"},
        {L"4807.038,SS,rest", false, 48.1173, L"rest", "hemisphere must be exactly S"},
        {L"01131.000,E,", true, 11.0 + 31.0 / 60.0, L"", "east"},
        {L"01131.000,W,", true, -(11.0 + 31.0 / 60.0), L"", "west"},
        {L"01131.000,w,", true, 11.0 + 31.0 / 60.0, L"", "lower-case w stays positive"},
        {L"5,N,", false, 5.0, L"", "one character: degrees only"},
        {L"807.038,N,", false, 80.0 + 7.038 / 60.0, L"", "degrees taken by position"},
        {L"4807.038,S", false, 48.1173, L"S", "no comma after the hemisphere: unread"},
        {L",,rest", false, NO_DOUBLE_VALUE, L"rest", "empty: marker, both fields removed"},
        {L",N,rest", false, NO_DOUBLE_VALUE, L"rest", "empty value, hemisphere given"},
    };
    for (const auto& c : cases) {
        std::wstring_view fields = c.text;
        parser_.mLatitude = parser_.mLongitude = 1.0;
        if (c.longitude) {
            parser_.GetLongitude(fields);
        } else {
            parser_.GetLatitude(fields);
        }
        EXPECT_DOUBLE_EQ(c.longitude ? parser_.mLongitude : parser_.mLatitude, c.expected)
            << c.legend;
        EXPECT_EQ(fields, c.rest) << c.legend;
    }
    // Exactly as the two-step arithmetic gives it, not merely close.
    std::wstring_view fields = L"4807.038,N,";
    parser_.GetLatitude(fields);
    EXPECT_EQ(parser_.mLatitude, 48.0 + 7.038 / 60.0);
}

TEST_F(ConvertersTest, CoordinatesNeedACommaToBeReadAtAll) {
    std::wstring_view fields = L"4807.038*47";
    parser_.mLatitude = 1.0;
    parser_.GetLatitude(fields);
    EXPECT_EQ(parser_.mLatitude, 1.0);
    EXPECT_EQ(fields, L"4807.038*47");
}

TEST_F(ConvertersTest, EmptyLatitudeLetsLongitudeReadItsOwnField) {
    std::wstring_view fields = L",,01131.000,E,1";
    parser_.GetLatitude(fields);
    parser_.GetLongitude(fields);
    EXPECT_EQ(parser_.mLatitude, NO_DOUBLE_VALUE);
    EXPECT_DOUBLE_EQ(parser_.mLongitude, 11.0 + 31.0 / 60.0);
    EXPECT_EQ(fields, L"1");
}

TEST_F(ConvertersTest, SkipFieldNeverSkipsTheLastField) {
    std::wstring_view fields = L"M,46.9*47";
    parser_.SkipField(fields);
    EXPECT_EQ(fields, L"46.9*47");
    parser_.SkipField(fields);
    EXPECT_EQ(fields, L"46.9*47");
}

TEST_F(ConvertersTest, PeekFieldCharLooksBehindTheNthComma) {
    const std::wstring_view rmc = L"123519,A,4807.038,N";
    EXPECT_EQ(parser_.PeekFieldChar(rmc, 1), L'A');
    EXPECT_EQ(parser_.PeekFieldChar(rmc, 3), L'N');
    EXPECT_EQ(parser_.PeekFieldChar(rmc, 4), L'V') << "fewer commas";
    EXPECT_EQ(parser_.PeekFieldChar(L"no commas", 1), L'V');
    EXPECT_EQ(parser_.PeekFieldChar(L"a,", 1), L'\0') << "comma at the end";
    EXPECT_EQ(parser_.PeekFieldChar(L"a,,b", 1), L',') << "empty field: the next comma";
}

}  // namespace
