#include "utc_time.h"

#include <algorithm>
#include <cmath>

namespace {

// "%010.03f" of the largest double is 313 characters long.
constexpr size_t kTimeTextLength = 400;

// The integer that _wtoi reads from count characters at start, cut to 16 bits.
WORD ReadTimePart(const WCHAR* text, size_t length, size_t start, size_t count) {
    WCHAR part[4] = {};
    for (size_t i = 0; i < count && start + i < length; ++i) {
        part[i] = text[start + i];
    }
    return static_cast<WORD>(_wtoi(part));
}

}  // namespace

cTimeParts TimePartsFromText(double utcTime) {
    char narrow[kTimeTextLength];
    const int written = snprintf(narrow, sizeof(narrow), "%010.03f", utcTime);
    const size_t length =
        written > 0 ? std::min(static_cast<size_t>(written), sizeof(narrow) - 1) : 0;
    WCHAR text[kTimeTextLength];
    for (size_t i = 0; i < length; ++i) {
        text[i] = static_cast<unsigned char>(narrow[i]);
    }
    text[length] = L'\0';
    return {ReadTimePart(text, length, 0, 2), ReadTimePart(text, length, 2, 2),
            ReadTimePart(text, length, 4, 2),
            ReadTimePart(text, length, length >= 3 ? length - 3 : 0, 3)};
}

// Every time a receiver sends is in range: the value times 1000 rounded to the nearest integer,
// ties to even, as printf rounds the exact binary value to three decimals, computed exactly in
// integers. The digits before the point are at least six (zero-padded), and the first six give
// hour, minute and second.
bool TimePartsFromNumber(double utcTime, cTimeParts& parts) {
    if (!(utcTime >= 0.0 && utcTime < 9007199254740992.0) || std::signbit(utcTime)) {
        return false;
    }
    int exponent = 0;
    const double fraction = std::frexp(utcTime, &exponent);  // utcTime = fraction * 2^exponent
    // utcTime = mantissa * 2^shift exactly, with a 53-bit integer mantissa.
    const unsigned long long mantissa = static_cast<unsigned long long>(std::ldexp(fraction, 53));
    const int shift = exponent - 53;
    const unsigned long long scaled = mantissa * 1000;  // below 2^63
    unsigned long long thousandths;
    if (shift >= 0) {
        thousandths = scaled << shift;  // utcTime below 2^53: scaled * 2^shift below 2^63
    } else if (shift > -64) {
        const unsigned drop = static_cast<unsigned>(-shift);
        const unsigned long long half = 1ULL << (drop - 1);
        const unsigned long long rest = scaled & ((half << 1) - 1);
        thousandths = scaled >> drop;
        if (rest > half || (rest == half && (thousandths & 1) != 0)) {
            ++thousandths;
        }
    } else {
        thousandths = 0;  // below a thousandth of 2^-10: rounds to 0
    }
    unsigned long long seconds = thousandths / 1000;
    while (seconds >= 1000000) {
        seconds /= 10;
    }
    parts = {static_cast<WORD>(seconds / 10000), static_cast<WORD>(seconds / 100 % 100),
             static_cast<WORD>(seconds % 100), static_cast<WORD>(thousandths % 1000)};
    return true;
}

// The date is always today's UTC date, so a sentence stamped just before midnight and handled
// just after it is given the new day. The time of day is taken apart by position in its
// "%010.03f" text: hour, minute and second from the first six characters, milliseconds from the
// last three; the conversion refuses a minute or second of 60 (235959.9996 rounds to 235960.000)
// and the result then stays 0.
ULONGLONG UTCTimeToFileTime(double utcTime) {
    SYSTEMTIME systemTime;
    GetSystemTime(&systemTime);

    cTimeParts parts;
    if (!TimePartsFromNumber(utcTime, parts)) {
        parts = TimePartsFromText(utcTime);
    }
    systemTime.wHour = parts.mHour;
    systemTime.wMinute = parts.mMinute;
    systemTime.wSecond = parts.mSecond;
    systemTime.wMilliseconds = parts.mMilliseconds;

    FILETIME fileTime = {0, 0};
    SystemTimeToFileTime(&systemTime, &fileTime);
    return (static_cast<ULONGLONG>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}
