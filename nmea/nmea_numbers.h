// The number readers behind the field converters. The fast scanners read the common NMEA number
// in place and are inlined into the converters; everything else goes to the C runtime's readers,
// out of line (nmea_numbers.cpp), so that the converters' common path stays small.
#pragma once

#include <algorithm>
#include <string_view>

#include "driver_platform.h"

namespace nmea_numbers {

// 0 to 9 for a decimal digit, 10 or more for any other character.
constexpr unsigned DigitValue(WCHAR c) {
    return static_cast<unsigned>(c) - static_cast<unsigned>(L'0');
}

// Powers of ten that are exact doubles.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr unsigned long long kLargestExactMantissa = 1ULL << 53;

// The fast readers scan the common NMEA number from the front of the text, in place, and stop
// at the first character that cannot continue it; `length` is how far they read. They return
// true when the value they give is the one the C runtime's reader gives for that text, and
// false for anything they leave to it (no digit, too many digits, a rounding they cannot do).

// Steps over a leading "+" or "-"; true for "-".
inline bool TakeSign(const WCHAR*& p, const WCHAR* end) {
    if (p == end || (*p != L'-' && *p != L'+')) {
        return false;
    }
    return *p++ == L'-';
}

// [sign]digits[.digits]: when the digits make an integer of at most 2^53 and there are at most
// 22 decimals, that integer and the power of ten are both exact doubles and one division rounds
// correctly, which is what the runtime's correctly rounded reader gives.
inline bool ScanPlainDecimal(std::wstring_view text, size_t& length, double& value) {
    const WCHAR* const begin = text.data();
    const WCHAR* const end = begin + text.size();
    const WCHAR* p = begin;
    const bool negative = TakeSign(p, end);
    unsigned long long mantissa = 0;
    unsigned digit = 0;
    const WCHAR* const integer = p;
    while (p != end && (digit = DigitValue(*p)) < 10) {
        mantissa = mantissa * 10 + digit;
        ++p;
    }
    size_t digits = static_cast<size_t>(p - integer);
    size_t decimals = 0;
    if (p != end && *p == L'.') {
        const WCHAR* const fraction = ++p;
        while (p != end && (digit = DigitValue(*p)) < 10) {
            mantissa = mantissa * 10 + digit;
            ++p;
        }
        decimals = static_cast<size_t>(p - fraction);
        digits += decimals;
    }
    length = static_cast<size_t>(p - begin);
    // Up to 15 digits are always exact. Nineteen cannot overflow the integer; more are left to
    // the runtime.
    if (digits - 1 >= 15 &&
        (digits == 0 || digits > 19 || mantissa > kLargestExactMantissa || decimals > 22)) {
        return false;
    }
    // At most 2^53 here, so the signed conversion (one instruction) is exact.
    double magnitude = static_cast<double>(static_cast<long long>(mantissa));
    if (decimals != 0) {
        magnitude /= kExactPowersOfTen[decimals];
    }
    value = negative ? -magnitude : magnitude;
    return true;
}

// [sign]digits with at most nine digits, so that no clamping to 32 bits can apply.
inline bool ScanPlainInteger(std::wstring_view text, size_t& length, INT& value) {
    const WCHAR* const begin = text.data();
    const WCHAR* const end = begin + text.size();
    const WCHAR* p = begin;
    const bool negative = TakeSign(p, end);
    const WCHAR* const digits = p;
    const WCHAR* const last = digits + std::min<ptrdiff_t>(end - digits, 9);
    INT magnitude = 0;
    unsigned digit = 0;
    while (p != last && (digit = DigitValue(*p)) < 10) {
        magnitude = magnitude * 10 + static_cast<INT>(digit);
        ++p;
    }
    length = static_cast<size_t>(p - begin);
    if (p == digits || (p != end && DigitValue(*p) < 10)) {
        return false;
    }
    value = negative ? -magnitude : magnitude;
    return true;
}

// The value the C runtime's reader (_wtof, _wtol) gives for the whole field.
double ReadDouble(std::wstring_view field);
INT ReadInt(std::wstring_view field);

// ReadDouble with the plain case inlined.
inline double ReadDoubleField(std::wstring_view field) {
    size_t length = 0;
    double value;
    return ScanPlainDecimal(field, length, value) && length == field.size() ? value
                                                                            : ReadDouble(field);
}

// A field that is not a plain number (or nothing) right before a ",", `scanned` characters of it
// already looked at: it runs to the next ",", or, in the last field, to the first "*".
void TakeOtherField(std::wstring_view& fields, size_t scanned, double& destination);
void TakeOtherField(std::wstring_view& fields, size_t scanned, INT& destination);

}  // namespace nmea_numbers
