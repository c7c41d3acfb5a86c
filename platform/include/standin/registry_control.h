// Which .reg file the registry stand-in reads, with no Windows counterpart. The framework host,
// the tools and the tests use this; driver code never does.
//
// Unless a program chooses here, the registry is the file named by ZNTR_REGISTRY. Without the
// variable, or with a file that cannot be read, the registry is empty: every key but the
// predefined roots is missing (ERROR_FILE_NOT_FOUND). A file that does not parse is reported on
// standard error, once per file and reason, and is an empty registry too. The choice is made,
// and the file read, each time a key is opened.
//
// The file is in the format regedit exports: a "Windows Registry Editor Version 5.00" (UTF-16LE
// with a byte-order mark, or plain text) or "REGEDIT4" header, [KEY] and [-KEY] sections,
// "Name"=... and @=... values ("text", dword:8 hex digits, hex:, hex(N):, and - to delete), and
// ";" comment lines.
#pragma once

#include <optional>
#include <string>

namespace zntr::platform {

// Goes back to ZNTR_REGISTRY.
void UseEnvironmentRegistryFile();

// Sets the program's choice, which overrides ZNTR_REGISTRY (a file, or std::nullopt for an empty
// registry), for as long as it lives, then puts back what was in force.
class ScopedRegistryFile {
  public:
    explicit ScopedRegistryFile(std::optional<std::string> path);
    ~ScopedRegistryFile();
    ScopedRegistryFile(const ScopedRegistryFile&) = delete;
    ScopedRegistryFile& operator=(const ScopedRegistryFile&) = delete;

  private:
    bool hadChoice_ = false;
    std::optional<std::string> previous_;
};

}  // namespace zntr::platform
