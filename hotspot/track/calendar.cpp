#include "track/calendar.h"

namespace zntr::hotspot {
namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Day number counted from 1970-01-01, using eras of 400 years (146097 days) so that the
// arithmetic stays exact for every year; `DateFromDayNumber` is its inverse.
long long DayNumber(const CalendarDate& date) {
    const long long y = date.month <= 2 ? date.year - 1 : date.year;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long year_of_era = y - era * 400;
    const long long month_from_march = date.month > 2 ? date.month - 3 : date.month + 9;
    const long long day_of_year = (153 * month_from_march + 2) / 5 + date.day - 1;
    const long long day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

CalendarDate DateFromDayNumber(long long days) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long day_of_era = days - era * 146097;
    const long long year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const long long day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const long long month_from_march = (5 * day_of_year + 2) / 153;
    const long long day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
    const long long month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
    const long long year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    return CalendarDate{static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
}

}  // namespace

bool IsValidDate(const CalendarDate& date) {
    return date.year >= 1 && date.year <= 9999 && date.month >= 1 && date.month <= 12 &&
           date.day >= 1 && date.day <= DaysInMonth(date.year, date.month);
}

CalendarDate AddDays(const CalendarDate& date, long long days) {
    return DateFromDayNumber(DayNumber(date) + days);
}

}  // namespace zntr::hotspot
