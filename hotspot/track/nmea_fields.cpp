#include "track/nmea_fields.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace zntr::hotspot {
namespace {

AngleField AngleAsDegreesMinutes(double degrees, int degree_digits, char positive, char negative) {
    // Units of 1e-4 minute, so that degrees, minutes and their fraction come out exact.
    const long long total = std::llround(std::fabs(degrees) * 60.0 * 10000.0);
    const long long whole_degrees = total / 600000;
    const long long minutes = (total % 600000) / 10000;
    const long long fraction = total % 10000;
    AngleField field;
    field.value = ZeroPadded(whole_degrees, degree_digits) + ZeroPadded(minutes, 2) + "." +
                  ZeroPadded(fraction, 4);
    field.hemisphere = degrees < 0.0 && total != 0 ? negative : positive;
    return field;
}

}  // namespace

std::string FixedDecimal(double value, int decimals) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) {
        throw std::invalid_argument("number does not fit a sentence field");
    }
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    if (!text.empty() && text.front() == '-' &&
        text.find_first_not_of("-0.") == std::string_view::npos) {
        text.remove_prefix(1);
    }
    return std::string(text);
}

std::string ZeroPadded(long long value, int width) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    const std::string digits(buffer, result.ptr);
    const auto wanted = static_cast<std::size_t>(width);
    return digits.size() >= wanted ? digits : std::string(wanted - digits.size(), '0') + digits;
}

AngleField LatitudeField(double degrees) {
    return AngleAsDegreesMinutes(degrees, 2, 'N', 'S');
}

AngleField LongitudeField(double degrees) {
    return AngleAsDegreesMinutes(degrees, 3, 'E', 'W');
}

std::string DirectionField(double degrees) {
    long long tenths = std::llround(degrees * 10.0) % 3600;
    if (tenths < 0) {
        tenths += 3600;
    }
    return ZeroPadded(tenths / 10, 1) + "." + ZeroPadded(tenths % 10, 1);
}

std::string TimeField(std::int64_t centiseconds_of_day, int decimals) {
    const std::int64_t seconds = centiseconds_of_day / 100;
    const std::int64_t centiseconds = centiseconds_of_day % 100;
    std::string text = ZeroPadded(seconds / 3600, 2) + ZeroPadded(seconds / 60 % 60, 2) +
                       ZeroPadded(seconds % 60, 2) + ".";
    text += decimals >= 2 ? ZeroPadded(centiseconds, 2) : ZeroPadded(centiseconds / 10, 1);
    return text;
}

std::string DateField(const CalendarDate& date) {
    return ZeroPadded(date.day, 2) + ZeroPadded(date.month, 2) + ZeroPadded(date.year % 100, 2);
}

}  // namespace zntr::hotspot
