// The string work of the device identity lookups: tokens of instance IDs and interface paths,
// and the C runtime's lower-casing they are compared in.
#pragma once

#include <string>
#include <string_view>

#include "driver_platform.h"

// The number-th token (1 for the first) of text split on delimiter: a run of delimiters counts
// as one and leading delimiters are skipped, so it is the number-th non-empty piece. A token
// past the end is empty.
std::wstring GetToken(std::wstring_view text, WCHAR delimiter, size_t number);

// Lower-cases text in place as the C runtime does in the "C" locale, in which programs start:
// A to Z only.
void LowerCase(std::wstring& text);
