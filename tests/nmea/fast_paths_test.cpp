// The reader's fast paths against the plain calls they stand in for, on generated inputs: the
// in-place number scanners against the C runtime's _wtof and _wtol (the same double bit for bit,
// the same clamped 32-bit integer), and the timestamp's parts computed from the number against
// those read from its printed text. Natively the runtime is the stand-in's; under Wine it is the
// Windows runtime.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "nmea_numbers.h"
#include "nmea_parser.h"
#include "utc_time.h"

namespace {

using namespace nmea_numbers;

std::uint64_t Bits(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

// Texts of the forms receivers send and of those around them: a sign, up to 21 integer digits,
// a point, up to 24 decimals, and now and then what ends a number early.
std::wstring NumericText(std::mt19937_64& random) {
    static const wchar_t* const kSigns[] = {L"", L"", L"", L"-", L"+"};
    static const wchar_t* const kTails[] = {L"", L"", L"", L"", L"e3", L"E-2", L"x", L" ", L"."};
    const auto pick = [&](int bound) { return static_cast<int>(random() % bound); };
    std::wstring text = kSigns[pick(5)];
    const auto digits = [&](int count) {
        for (int i = 0; i < count; ++i) {
            text += static_cast<wchar_t>(L'0' + (pick(4) == 0 ? 9 : pick(10)));
        }
    };
    digits(pick(4) == 0 ? pick(22) : pick(7));
    if (pick(3) != 0) {
        text += L'.';
        digits(pick(4) == 0 ? pick(25) : pick(8));
    }
    return text + kTails[pick(9)];
}

TEST(FastPaths, NumberScannersGiveTheRuntimesValue) {
    std::mt19937_64 random(20261206);
    int plain = 0;
    for (int i = 0; i < 200000; ++i) {
        const std::wstring text = NumericText(random);
        const std::wstring field = text + L",5";  // a plain number is read up to its ","
        size_t length = 0;
        double value = 0;
        if (ScanPlainDecimal(field, length, value)) {
            ++plain;
            ASSERT_EQ(Bits(value), Bits(_wtof(field.substr(0, length).c_str()))) << text;
        }
        ASSERT_EQ(Bits(ReadDouble(text)), Bits(_wtof(text.c_str()))) << text;
        INT integer = 0;
        if (ScanPlainInteger(field, length, integer)) {
            ASSERT_EQ(integer, _wtol(field.substr(0, length).c_str())) << text;
        }
        ASSERT_EQ(ReadInt(text), _wtol(text.c_str())) << text;
    }
    // Most texts take the fast path, so the comparison above is mostly about it.
    EXPECT_GT(plain, 100000);
}

// A sentence with a character beyond ASCII is checked on its bytes in the thread's ANSI code page,
// which need not be the character's own value (U+0080 has no byte in code page 1252).
TEST(FastPaths, ChecksumBeyondAsciiIsTheCodePages) {
    cNMEAParser parser;
    for (const wchar_t c : {L'\u0080', L'\u0099', L'\u00e9', L'\u20ac', L'\u0100'}) {
        const std::wstring body = std::wstring(L"GPTXT,") + c;
        char bytes[16] = {};
        const int length =
            WideCharToMultiByte(CP_THREAD_ACP, 0, body.data(), static_cast<int>(body.size()), bytes,
                                sizeof(bytes), nullptr, nullptr);
        unsigned checksum = 0;
        for (int i = 0; i < length; ++i) {
            checksum ^= static_cast<unsigned char>(bytes[i]);
        }
        wchar_t digits[3];
        swprintf(digits, 3, L"%02X", checksum);
        EXPECT_TRUE(parser.VerifyChecksum(L"$" + body + L"*" + digits)) << static_cast<int>(c);
    }
}

bool operator==(const cTimeParts& a, const cTimeParts& b) {
    return a.mHour == b.mHour && a.mMinute == b.mMinute && a.mSecond == b.mSecond &&
           a.mMilliseconds == b.mMilliseconds;
}

TEST(FastPaths, TimePartsFromTheNumberAreThoseOfItsText) {
    std::mt19937_64 random(6122026);
    const auto check = [](double time) {
        cTimeParts parts{};
        ASSERT_TRUE(TimePartsFromNumber(time, parts)) << time;
        const cTimeParts fromText = TimePartsFromText(time);
        ASSERT_TRUE(parts == fromText) << std::to_wstring(time).c_str();
    };
    for (int i = 0; i < 100000; ++i) {
        // A time of day to the millisecond, the same a sixteenth away (exact halves of a
        // thousandth: printf's ties to even), any double below 10^7, and any below 2^53.
        const double hhmmss = static_cast<double>(random() % 240000) + (random() % 1000) / 1000.0;
        check(hhmmss);
        check(static_cast<double>(random() % 240000) + (random() % 16) / 16.0 + 0.0005);
        check(static_cast<double>(random() % 16000) / 16000.0 + (random() % 2400000) * 0.5);
        check(std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 64)));
    }
    for (const double edge : {0.0, 5e-324, 0.0005, 0.0015, 235959.9995, 235959.9996, 999999.9995,
                              1e6, 4503599627370495.5, 9007199254740991.0}) {
        check(edge);
    }
    cTimeParts parts{};
    for (const double outside : {-0.0, -1.0, 9007199254740992.0, HUGE_VAL, std::nan("")}) {
        EXPECT_FALSE(TimePartsFromNumber(outside, parts)) << outside;
    }
}

}  // namespace
