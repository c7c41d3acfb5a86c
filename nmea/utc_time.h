// Timestamps from the UTC time of day that NMEA sentences carry.
#pragma once

#include "driver_platform.h"

// The FILETIME (dwHighDateTime in the upper 32 bits) of the given time of day, hhmmss.sss, on
// the computer's current UTC date; 0 when the time of day is no valid clock time.
ULONGLONG UTCTimeToFileTime(double utcTime);

// The time of day as "%010.03f" prints it, taken apart by position: hour, minute and second from
// the first six characters, milliseconds from the last three, each as _wtoi reads it.
struct cTimeParts {
    WORD mHour;
    WORD mMinute;
    WORD mSecond;
    WORD mMilliseconds;
};
// From the printed text itself, for every value.
cTimeParts TimePartsFromText(double utcTime);
// The same without the text, for a value of at least 0 and below 2^53; false for any other.
bool TimePartsFromNumber(double utcTime, cTimeParts& parts);
