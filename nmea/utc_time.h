// Timestamps from the UTC time of day that NMEA sentences carry.
#pragma once

#include "driver_platform.h"

// The FILETIME (dwHighDateTime in the upper 32 bits) of the given time of day, hhmmss.sss, on
// the computer's current UTC date; 0 when the time of day is no valid clock time.
ULONGLONG UTCTimeToFileTime(double utcTime);
