#include "nmea_numbers.h"

#include <string>

#include "nmea_parser.h"

namespace nmea_numbers {
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

template <typename T, T (*Read)(std::wstring_view field)>
void TakeOther(std::wstring_view& fields, size_t scanned, T& destination, T marker) {
    const size_t comma = fields.find(L',', scanned);
    if (comma != std::wstring_view::npos) {
        if (comma == 0) {
            destination = marker;
        } else {
            destination = Read(fields.substr(0, comma));
        }
        fields.remove_prefix(comma + 1);
        return;
    }
    const size_t star = fields.find(L'*');
    if (star != std::wstring_view::npos && star > 0) {
        destination = Read(fields.substr(0, star));
        // What remains is the checksum digits and trailing white space: no further field.
        fields.remove_prefix(star + 1);
    }
}

}  // namespace

template <typename T, bool (*Scan)(std::wstring_view, size_t&, T&), typename RuntimeReader>
T ReadWhole(std::wstring_view field, RuntimeReader runtimeRead) {
    size_t length = 0;
    T value;
    if (Scan(field, length, value) && length == field.size()) {
        return value;
    }
    return ReadFieldText<T>(field, runtimeRead);
}

double ReadDouble(std::wstring_view field) {
    return ReadWhole<double, ScanPlainDecimal>(field, _wtof);
}

INT ReadInt(std::wstring_view field) {
    return ReadWhole<INT, ScanPlainInteger>(field, _wtol);
}

void TakeOtherField(std::wstring_view& fields, size_t scanned, double& destination) {
    TakeOther<double, ReadDouble>(fields, scanned, destination, NO_DOUBLE_VALUE);
}

void TakeOtherField(std::wstring_view& fields, size_t scanned, INT& destination) {
    TakeOther<INT, ReadInt>(fields, scanned, destination, NO_INT_VALUE);
}

}  // namespace nmea_numbers
