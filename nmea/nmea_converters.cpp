// Field converters. Each reads the next field from the front of a decoder's field text and
// removes what it read, so a decoder's calls follow the sentence's field order.
//
// A field is "comma-ended" when a "," follows it; the sentence's last field ends at the first
// "*" instead. An empty comma-ended field gives the no-value marker; a field that is not there
// at all (the text is used up, or an empty last field right before "*") leaves the destination
// as it was.
#include <algorithm>

#include "nmea_parser.h"

namespace {

constexpr size_t kFieldBufferLength = 64;

// Reads a field with a C runtime reader, which needs terminated text: short fields are copied
// to the stack, long ones to the heap.
template <typename Result, typename Reader>
Result ReadFieldText(std::wstring_view field, Reader reader) {
    if (field.size() < kFieldBufferLength) {
        WCHAR text[kFieldBufferLength];
        std::copy(field.begin(), field.end(), text);
        text[field.size()] = L'\0';
        return static_cast<Result>(reader(text));
    }
    const std::wstring text(field);
    return static_cast<Result>(reader(text.c_str()));
}

double ReadDouble(std::wstring_view field) {
    return ReadFieldText<double>(field, _wtof);
}

INT ReadInt(std::wstring_view field) {
    return ReadFieldText<INT>(field, _wtol);
}

template <typename T>
void TakeField(std::wstring_view& fields, T& destination, T marker,
               T (*read)(std::wstring_view field)) {
    if (fields.empty()) {
        return;
    }
    const size_t comma = fields.find(L',');
    if (comma != std::wstring_view::npos) {
        if (comma == 0) {
            destination = marker;
        } else {
            destination = read(fields.substr(0, comma));
        }
        fields.remove_prefix(comma + 1);
        return;
    }
    const size_t star = fields.find(L'*');
    if (star != std::wstring_view::npos && star > 0) {
        destination = read(fields.substr(0, star));
        // What remains is the checksum digits and trailing white space: no further field.
        fields.remove_prefix(star + 1);
    }
}

}  // namespace

void cNMEAParser::GetDoubleField(std::wstring_view& fields, double& destination) {
    TakeField(fields, destination, NO_DOUBLE_VALUE, ReadDouble);
}

void cNMEAParser::GetIntField(std::wstring_view& fields, INT& destination) {
    TakeField(fields, destination, NO_INT_VALUE, ReadInt);
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
    double value = ReadDouble(field.substr(0, split)) + ReadDouble(field.substr(split)) / 60.0;

    const size_t hemisphereEnd = fields.find(L',');
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
