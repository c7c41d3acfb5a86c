// The .reg file format that regedit exports, read into the keys and values it describes.
// Internal to the platform library; the registry functions (registry.cpp) look keys up here.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/windef.h"

namespace zntr::platform::detail {

// A value as the registry stores it: its type and its bytes. Text is kept as UTF-16LE with its
// terminating NUL, as Windows keeps it, whichever form the file had.
struct RegistryValue {
    DWORD type = 0;
    std::vector<BYTE> data;
};

// Names compare without regard to letter case; maps are keyed by the folded name.
struct RegistryKey {
    std::map<std::wstring, RegistryValue> values;
};

// Every key the file creates, by its folded full path ("HKEY_LOCAL_MACHINE\SOFTWARE\..."), with
// the keys above each one: importing a key creates its parents.
struct RegistryContent {
    std::map<std::wstring, RegistryKey> keys;
};

// Upper-cases a key or value name for comparison, as the registry compares names.
std::wstring FoldRegistryName(std::wstring_view name);

// Parses a file's bytes: UTF-16LE when they start with the byte-order mark FF FE, else UTF-8
// (with or without its mark) or, when that does not decode, Windows-1252. std::nullopt with the
// reason (and line number) in *reason when it is not a .reg file.
std::optional<RegistryContent> ParseRegFile(std::string_view bytes, std::string* reason);

}  // namespace zntr::platform::detail
