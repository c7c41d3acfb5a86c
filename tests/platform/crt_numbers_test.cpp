// The C runtime number readers behave as the Windows C runtime's: 32-bit long, clamping on
// overflow, the scan stops at the first character that does not fit.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "standin/crt.h"
#include "wine_quirks.h"

namespace {

struct DoubleCase {
    const wchar_t* text;
    double expected;
    const char* legend;
};

// Wine's C runtime reads a d or D exponent in every version; the UCRT reads none.
constexpr char kFortranExponent[] = "no Fortran exponent in the UCRT";

TEST(CrtNumbersTest, WtofReadsTheDecimalGrammarAndStopsAtTheFirstMisfit) {
    const DoubleCase cases[] = {
        {L"4807.038", 4807.038, "plain decimal"},
        {L"  \t-12.5", -12.5, "leading C white space and a sign"},
        {L"\n\v\f\r+3", 3.0, "all six space characters are skipped"},
        {L"42abc", 42.0, "stops at a letter"},
        {L"12.5*4F", 12.5, "stops at the checksum delimiter"},
        {L"1e5", 100000.0, "exponent"},
        {L"1E-2", 0.01, "negative exponent"},
        {L"1e", 1.0, "an exponent letter without digits is not consumed"},
        {L"1d5", 1.0, kFortranExponent},
        {L".5", 0.5, "leading point"},
        {L"5.", 5.0, "trailing point"},
        {L"", 0.0, "empty text"},
        {L"-", 0.0, "a sign alone"},
        {L"abc", 0.0, "no number"},
        {L"  -2,309e-25", -2.0, "only the point is a radix character"},
        {L"0x1A", 26.0, "hexadecimal"},
        {L"0x1p4", 16.0, "hexadecimal with binary exponent"},
        {L"00000123.4500000", 123.45, "leading and trailing zeros"},
        {L"1.7976931348623157e308", 1.7976931348623157e308, "the largest double"},
        {L"123456789012345678901234567890", 1.2345678901234568e29, "long mantissa"},
        {L"1e-400", 0.0, "underflow"},
    };
    for (const DoubleCase& c : cases) {
        if (c.legend == kFortranExponent && zntr::test::RunningUnderWine()) {
            continue;
        }
        EXPECT_EQ(_wtof(c.text), c.expected) << c.legend;
    }
    EXPECT_TRUE(std::isinf(_wtof(L"1e999"))) << "overflow gives infinity";
    EXPECT_TRUE(std::isinf(_wtof(L"-inf")) && _wtof(L"-inf") < 0) << "inf";
    EXPECT_TRUE(std::isnan(_wtof(L"nan"))) << "nan";
    EXPECT_TRUE(std::signbit(_wtof(L"-0"))) << "negative zero keeps its sign";
    EXPECT_EQ(_wtof(L"1\u00B2"), 1.0) << "a non-ASCII character ends the number";
}

TEST(CrtNumbersTest, WtofRoundsExactlyAsACorrectlyRoundedReader) {
    // Decimal texts of NMEA's shapes and random ones must give the bits strtod gives.
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t mantissa = random() % 100000000000000000ull;
        const int decimals = static_cast<int>(random() % 20);
        std::string text = std::to_string(mantissa);
        if (decimals < static_cast<int>(text.size())) {
            text.insert(text.size() - decimals, ".");
        }
        if (random() % 3 == 0) {
            text += "e" + std::to_string(static_cast<int>(random() % 60) - 30);
        }
        const std::wstring wide(text.begin(), text.end());
        ASSERT_EQ(_wtof(wide.c_str()), std::strtod(text.c_str(), nullptr)) << text;
    }
}

struct IntCase {
    const char* text;
    long long expected;
    bool clamped;
    const char* legend;
};

TEST(CrtNumbersTest, IntegerReadersClampTo32BitsAndSetErange) {
    const IntCase cases[] = {
        {"08", 8, false, "leading zero is decimal"},
        {"12.7", 12, false, "stops at the point"},
        {"  -42x", -42, false, "space, sign, stop at a letter"},
        {"", 0, false, "empty"},
        {"+", 0, false, "sign alone"},
        {"2147483647", 2147483647, false, "INT_MAX"},
        {"2147483648", 2147483647, true, "clamps up, where glibc wraps"},
        {"-2147483648", -2147483648LL, false, "INT_MIN"},
        {"-2147483649", -2147483648LL, true, "clamps down"},
        {"3336402735171707160320", 2147483647, true, "far beyond 64 bits"},
        {"3000000000", 2147483647, true, "fits a Linux long, not a Windows one"},
    };
    for (const IntCase& c : cases) {
        const std::wstring wide(c.text, c.text + std::strlen(c.text));
        errno = 0;
        EXPECT_EQ(zntr_crt_atoi(c.text), c.expected) << "atoi: " << c.legend;
        EXPECT_EQ(errno == ERANGE, c.clamped) << "atoi errno: " << c.legend;
        errno = 0;
        EXPECT_EQ(_wtoi(wide.c_str()), c.expected) << "_wtoi: " << c.legend;
        EXPECT_EQ(errno == ERANGE, c.clamped) << "_wtoi errno: " << c.legend;
        EXPECT_EQ(_wtol(wide.c_str()), c.expected) << "_wtol: " << c.legend;
        EXPECT_EQ(zntr_crt_atol(c.text), c.expected) << "atol: " << c.legend;
    }
    static_assert(sizeof(_wtol(L"")) == 4, "_wtol returns a 32-bit long");
}

TEST(CrtNumbersTest, StrtolBase16ReadsChecksumDigits) {
    struct Case {
        const char* text;
        long expected;
        int consumed;
        const char* legend;
    };
    const Case cases[] = {
        {"4F", 0x4F, 2, "upper case"},
        {"4f", 0x4F, 2, "lower case"},
        {"0x1A", 0x1A, 4, "optional prefix"},
        {"+F", 15, 2, "sign"},
        {"-1", -1, 2, "negative"},
        {"4G", 4, 1, "stops at a non-digit"},
        {"G4", 0, 0, "nothing converts: end is the start"},
        {"0x", 0, 0, "a prefix without digits converts nothing"},
        {"FFFFFFFF", 2147483647, 8, "clamps to LONG_MAX (32 bits)"},
        {"80000000", 2147483647, 8, "one past LONG_MAX"},
        {"-80000000", -2147483647L - 1, 9, "LONG_MIN exactly"},
    };
    for (const Case& c : cases) {
        char* end = nullptr;
        EXPECT_EQ(zntr_crt_strtol(c.text, &end, 16), c.expected) << c.legend;
        EXPECT_EQ(end - c.text, c.consumed) << c.legend;
    }
    char* end = nullptr;
    EXPECT_EQ(zntr_crt_strtol("-10110134932", &end, 10), -2147483647L - 1)
        << "the documented decimal overflow example";
    EXPECT_EQ(zntr_crt_strtol("017", &end, 0), 15) << "base 0 reads a leading 0 as octal";
    EXPECT_EQ(zntr_crt_strtol("0x1f", &end, 0), 31) << "base 0 reads 0x as hexadecimal";
    errno = 0;
    EXPECT_EQ(zntr_crt_strtol("12", &end, 1), 0) << "base 1 is invalid";
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
