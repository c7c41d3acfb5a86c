#pragma once

// Renders the numbers of NMEA sentence fields. Every function here is independent of the
// process locale: the decimal separator is always '.'.

#include <cstdint>
#include <string>

#include "track/calendar.h"

namespace zntr::hotspot {

// `value` with exactly `decimals` digits after the point, rounded to nearest; never "-0.0".
std::string FixedDecimal(double value, int decimals);

// Non-negative `value` left-padded with zeros to at least `width` digits.
std::string ZeroPadded(long long value, int width);

// A latitude or longitude as degrees and minutes with four decimals of a minute, plus the
// hemisphere letter. Minutes are rounded as one integer so that 59.99995' carries into the
// degrees instead of printing as 60.0000'.
struct AngleField {
    std::string value;  // "ddmm.mmmm" or "dddmm.mmmm"
    char hemisphere;    // 'N'/'S' or 'E'/'W'
};
AngleField LatitudeField(double degrees);
AngleField LongitudeField(double degrees);

// An angle in [0, 360) with one decimal; a value that would round to 360.0 prints as 0.0.
std::string DirectionField(double degrees);

// Time of day "hhmmss" followed by `decimals` (1 or 2) digits of the second; the digits past
// `decimals` are dropped rather than rounded so that the field never reaches 24:00:00.
std::string TimeField(std::int64_t centiseconds_of_day, int decimals);

// "ddmmyy".
std::string DateField(const CalendarDate& date);

}  // namespace zntr::hotspot
