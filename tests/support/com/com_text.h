// PROPVARIANTs, GUIDs and texts as one line of text each, for tables and goldens; built natively
// and for Windows. A value is its type and content: VT_EMPTY, VT_I4 -7, VT_UI4 7,
// VT_R8 1.25 (the shortest text that reads back exactly), VT_BOOL -1, VT_ERROR 0x80070005,
// VT_FILETIME 0x01C2349B580716B0, VT_LPWSTR "text", VT_CLSID {...}, VT_VECTOR|VT_UI1 0C 00 FF,
// or "vt 0x" and the type's number. A quoted text keeps printable ASCII, writes
// \" \\ \n \r \t, and any other unit as \xHH (below 0x100) or \u{HHHH}: a unit is a byte of a
// narrow text, a code unit of a wide one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver_platform.h"

namespace zntr::test {

std::string Quote(const std::vector<std::uint32_t>& units);
std::string Quote(std::string_view bytes);
std::string Quote(std::wstring_view wide);
// Reads the quoted text at the front of `text` and moves past it; false if there is none.
bool Unquote(std::string_view& text, std::vector<std::uint32_t>* units);

std::string GuidText(REFGUID guid);

std::string PropVariantText(const PROPVARIANT& value);

}  // namespace zntr::test
