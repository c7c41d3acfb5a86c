// Field converters. Each reads the next field from the front of a decoder's field text and
// removes what it read, so a decoder's calls follow the sentence's field order.
//
// A field is "comma-ended" when a "," follows it; the sentence's last field ends at the first
// "*" instead. An empty comma-ended field gives the no-value marker; a field that is not there
// at all (the text is used up, or an empty last field right before "*") leaves the destination
// as it was.
#include "nmea_numbers.h"
#include "nmea_parser.h"

using namespace nmea_numbers;

namespace {

// The common case in one scan and few registers: a plain number, or nothing, right before a ",".
template <typename T, bool (*Scan)(std::wstring_view, size_t&, T&)>
void TakeField(std::wstring_view& fields, T& destination, T marker) {
    if (fields.empty()) {
        return;
    }
    size_t length = 0;
    T value;
    const bool plain = Scan(fields, length, value);
    if (length < fields.size() && fields[length] == L',' && (plain || length == 0)) {
        destination = length == 0 ? marker : value;
        fields.remove_prefix(length + 1);
        return;
    }
    TakeOtherField(fields, length, destination);
}

}  // namespace

void cNMEAParser::GetDoubleField(std::wstring_view& fields, double& destination) {
    TakeField<double, ScanPlainDecimal>(fields, destination, NO_DOUBLE_VALUE);
}

void cNMEAParser::GetIntField(std::wstring_view& fields, INT& destination) {
    TakeField<INT, ScanPlainInteger>(fields, destination, NO_INT_VALUE);
}

// ddmm.mmmm followed by N or S.
void cNMEAParser::GetLatitude(std::wstring_view& fields) {
    GetCoordinate(fields, 2, L'S', mLatitude);
}

// dddmm.mmmm followed by E or W.
void cNMEAParser::GetLongitude(std::wstring_view& fields) {
    GetCoordinate(fields, 3, L'W', mLongitude);
}

// The degree digits are taken by position, as a fixed-width field: a latitude written 807.038
// reads as 80 degrees 7.038 minutes. Only an exact upper-case hemisphere letter negates.
void cNMEAParser::GetCoordinate(std::wstring_view& fields, size_t degreeDigits,
                                WCHAR negativeHemisphere, double& destination) {
    const size_t comma = fields.find(L',');
    if (fields.empty() || comma == std::wstring_view::npos) {
        return;
    }
    if (comma == 0) {
        fields.remove_prefix(1);
        SkipField(fields);
        destination = NO_DOUBLE_VALUE;
        return;
    }
    const std::wstring_view field = fields.substr(0, comma);
    fields.remove_prefix(comma + 1);
    const size_t split = std::min(degreeDigits, field.size());
    double value =
        ReadDoubleField(field.substr(0, split)) + ReadDoubleField(field.substr(split)) / 60.0;

    // As a rule the hemisphere is one letter.
    const size_t hemisphereEnd = fields.size() > 1 && fields[1] == L',' ? 1 : fields.find(L',');
    if (!fields.empty() && hemisphereEnd != std::wstring_view::npos) {
        if (fields.substr(0, hemisphereEnd) == std::wstring_view(&negativeHemisphere, 1)) {
            value = -value;
        }
        fields.remove_prefix(hemisphereEnd + 1);
    }
    destination = value;
}

// The last field of a sentence is never skipped.
void cNMEAParser::SkipField(std::wstring_view& fields) {
    const size_t comma = fields.find(L',');
    if (!fields.empty() && comma != std::wstring_view::npos) {
        fields.remove_prefix(comma + 1);
    }
}

// The first character of the field behind the n-th ",", without consuming anything; "V" (not
// valid) when there are fewer commas, and the terminating NUL when the n-th "," ends the text.
WCHAR cNMEAParser::PeekFieldChar(std::wstring_view fields, INT n) {
    if (n < 1) {
        return L'V';
    }
    size_t next = 0;
    for (INT found = 0; found < n; ++found) {
        const size_t comma = fields.find(L',', next);
        if (comma == std::wstring_view::npos) {
            return L'V';
        }
        next = comma + 1;
    }
    return next < fields.size() ? fields[next] : L'\0';
}
