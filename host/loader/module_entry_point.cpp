#include "module_entry_point.h"

#include <elf.h>

#include <cstring>
#include <fstream>

namespace zntr::host {

bool ReadEntryPointOffset(const std::filesystem::path& file, std::uint64_t& offset,
                          std::string* error) {
    auto fail = [error](const char* reason) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    };
    std::ifstream in(file, std::ios::binary);
    Elf64_Ehdr header{};
    if (!in.read(reinterpret_cast<char*>(&header), sizeof(header))) {
        return fail("cannot read its ELF header");
    }
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        return fail("not an ELF file");
    }
    if (header.e_ident[EI_CLASS] != ELFCLASS64) {
        return fail("not a 64-bit module");
    }
    if (header.e_type != ET_DYN) {
        return fail("not a shared object");
    }
    offset = header.e_entry;
    return true;
}

}  // namespace zntr::host
