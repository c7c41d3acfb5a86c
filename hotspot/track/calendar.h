#pragma once

namespace zntr::hotspot {

// A day of the proleptic Gregorian calendar.
struct CalendarDate {
    int year;
    int month;  // 1..12
    int day;    // 1..31

    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

// True when the date names a real day (leap years included) in years 1..9999.
bool IsValidDate(const CalendarDate& date);

// The date `days` days after `date` (before it when negative).
CalendarDate AddDays(const CalendarDate& date, long long days);

}  // namespace zntr::hotspot
