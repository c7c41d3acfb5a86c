// Writing JSON Lines by hand where the output contract fixes the number format: doubles with 17
// significant digits (as C's %.17g), non-finite numbers as the strings "inf", "-inf" and "nan".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zntr::tools {

void AppendJsonDouble(std::string& out, double value);
// The shortest text that reads back as the same double: an integral value below 1e17 as an
// integer, other values in fixed notation while their decimal point falls within 15 digits left
// of it and 4 right, else in exponent notation (1.5e+20); non-finite numbers as for doubles.
void AppendJsonShortest(std::string& out, double value);
void AppendJsonInteger(std::string& out, std::int64_t value);
// Appends text, which must be UTF-8, as a JSON string with quotes and control characters escaped.
void AppendJsonString(std::string& out, std::string_view utf8);

// Text of the platform's ANSI code page (Windows-1252) as UTF-8.
std::string AnsiToUtf8(std::string_view ansi);
// Wide text as UTF-8; a value that is no Unicode scalar value becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

}  // namespace zntr::tools
