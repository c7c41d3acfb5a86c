// The built driver module loaded as a framework host loads it: dlopen, the exports by name, and
// the entry routine found from the ELF header's entry address plus the load address, since
// DllMain is the module's entry point and not an export. Also reads the module file's symbol
// tables, to check what it exports.
#pragma once

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "standin/libloaderapi.h"
#include "standin/winerror.h"
#include "standin/wudfddi_types.h"

namespace zntr::test {

using DllMainFunction = BOOL (*)(HINSTANCE, DWORD, LPVOID);
using GetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using PlainExportFunction = HRESULT (*)();

class LoadedModule {
  public:
    explicit LoadedModule(const std::string& path) : path_(path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
        }
        link_map* map = nullptr;
        if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
            throw std::runtime_error("dlinfo: no link map");
        }
        base_ = map->l_addr;
        // The ELF header is mapped at the load address; its entry is relative to it.
        const auto* header = reinterpret_cast<const Elf64_Ehdr*>(base_);
        dllMain_ = reinterpret_cast<DllMainFunction>(base_ + header->e_entry);
        getClassObject_ =
            reinterpret_cast<GetClassObjectFunction>(dlsym(handle_, "DllGetClassObject"));
        canUnloadNow_ = reinterpret_cast<PlainExportFunction>(dlsym(handle_, "DllCanUnloadNow"));
        registerServer_ =
            reinterpret_cast<PlainExportFunction>(dlsym(handle_, "DllRegisterServer"));
        unregisterServer_ =
            reinterpret_cast<PlainExportFunction>(dlsym(handle_, "DllUnregisterServer"));
        version_ =
            static_cast<const UMDF_VERSION_DATA*>(dlsym(handle_, "Microsoft_WDF_UMDF_Version"));
    }
    ~LoadedModule() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // Unloads the module now; true when it is no longer mapped afterwards.
    bool Unload() {
        dlclose(handle_);
        handle_ = nullptr;
        void* still = dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (still != nullptr) {
            dlclose(still);
            return false;
        }
        return true;
    }

    HINSTANCE Instance() const { return reinterpret_cast<HINSTANCE>(base_); }
    BOOL DllMain(DWORD reason) const { return dllMain_(Instance(), reason, nullptr); }
    HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const {
        return getClassObject_(clsid, iid, ppv);
    }
    HRESULT DllCanUnloadNow() const { return canUnloadNow_(); }
    HRESULT DllRegisterServer() const { return registerServer_(); }
    HRESULT DllUnregisterServer() const { return unregisterServer_(); }
    const UMDF_VERSION_DATA* Version() const { return version_; }
    // The entry address relative to the load address, as the ELF header gives it.
    ElfW(Addr) EntryOffset() const { return reinterpret_cast<const Elf64_Ehdr*>(base_)->e_entry; }

  private:
    std::string path_;
    void* handle_ = nullptr;
    ElfW(Addr) base_ = 0;
    DllMainFunction dllMain_ = nullptr;
    GetClassObjectFunction getClassObject_ = nullptr;
    PlainExportFunction canUnloadNow_ = nullptr;
    PlainExportFunction registerServer_ = nullptr;
    PlainExportFunction unregisterServer_ = nullptr;
    const UMDF_VERSION_DATA* version_ = nullptr;
};

// A symbol of the module file's tables.
struct ElfSymbol {
    std::string name;
    unsigned char binding;
    unsigned char type;
    bool defined;
    Elf64_Addr value;
};

// The symbols of the file's dynamic table (SHT_DYNSYM) or of its full table (SHT_SYMTAB).
inline std::vector<ElfSymbol> ReadElfSymbols(const std::string& path, Elf64_Word tableType) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    if (bytes.size() < sizeof(Elf64_Ehdr)) {
        throw std::runtime_error("not an ELF file: " + path);
    }
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(bytes.data());
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(bytes.data() + header->e_shoff);
    std::vector<ElfSymbol> symbols;
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != tableType) {
            continue;
        }
        const Elf64_Shdr& names = sections[sections[i].sh_link];
        const auto* entries =
            reinterpret_cast<const Elf64_Sym*>(bytes.data() + sections[i].sh_offset);
        const size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
        for (size_t j = 1; j < count; ++j) {
            symbols.push_back({std::string(bytes.data() + names.sh_offset + entries[j].st_name),
                               static_cast<unsigned char>(ELF64_ST_BIND(entries[j].st_info)),
                               static_cast<unsigned char>(ELF64_ST_TYPE(entries[j].st_info)),
                               entries[j].st_shndx != SHN_UNDEF, entries[j].st_value});
        }
    }
    return symbols;
}

// The names the file exports: defined global or weak symbols of its dynamic table.
inline std::set<std::string> ExportedNames(const std::string& path) {
    std::set<std::string> names;
    for (const ElfSymbol& symbol : ReadElfSymbols(path, SHT_DYNSYM)) {
        if (symbol.defined && (symbol.binding == STB_GLOBAL || symbol.binding == STB_WEAK ||
                               symbol.binding == STB_GNU_UNIQUE)) {
            names.insert(symbol.name);
        }
    }
    return names;
}

}  // namespace zntr::test
