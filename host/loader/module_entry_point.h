// The entry point a module's header names: the ELF header's e_entry of a shared library.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zntr::host {

// The entry point's offset from the module's load address, read from the file's ELF header.
// 0 when the module has none; false (with the reason in *error) when the file is not a 64-bit
// ELF shared object.
bool ReadEntryPointOffset(const std::filesystem::path& file, std::uint64_t& offset,
                          std::string* error);

}  // namespace zntr::host
