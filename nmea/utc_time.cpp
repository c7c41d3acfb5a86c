#include "utc_time.h"

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

// The date is always today's UTC date, so a sentence stamped just before midnight and handled
// just after it is given the new day. The time of day is taken apart by position in its
// "%010.03f" text: hour, minute and second from the first six characters, milliseconds from the
// last three; the conversion refuses a minute or second of 60 (235959.9996 rounds to 235960.000)
// and the result then stays 0.
ULONGLONG UTCTimeToFileTime(double utcTime) {
    SYSTEMTIME systemTime;
    GetSystemTime(&systemTime);

    char narrow[kTimeTextLength];
    const int written = snprintf(narrow, sizeof(narrow), "%010.03f", utcTime);
    const size_t length =
        written > 0 ? std::min(static_cast<size_t>(written), sizeof(narrow) - 1) : 0;
    WCHAR text[kTimeTextLength];
    for (size_t i = 0; i < length; ++i) {
        text[i] = static_cast<unsigned char>(narrow[i]);
    }
    text[length] = L'\0';

    systemTime.wHour = ReadTimePart(text, length, 0, 2);
    systemTime.wMinute = ReadTimePart(text, length, 2, 2);
    systemTime.wSecond = ReadTimePart(text, length, 4, 2);
    systemTime.wMilliseconds = ReadTimePart(text, length, length >= 3 ? length - 3 : 0, 3);

    FILETIME fileTime = {0, 0};
    SystemTimeToFileTime(&systemTime, &fileTime);
    return (static_cast<ULONGLONG>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}
