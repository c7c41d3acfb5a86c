#include "import_patch.h"

#include <windows.h>

#include <cstring>

namespace zntr::platform::windows {
namespace {

template <typename T>
T* At(BYTE* base, DWORD offset) {
    return reinterpret_cast<T*>(base + offset);
}

// The slot is in a read-only section once the loader has filled it.
void WriteSlot(ULONG_PTR* slot, void* value) {
    DWORD previous = 0;
    if (VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &previous)) {
        *slot = reinterpret_cast<ULONG_PTR>(value);
        VirtualProtect(slot, sizeof(*slot), previous, &previous);
    }
}

}  // namespace

void* PatchProgramImport(const char* function, void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = At<const IMAGE_NT_HEADERS>(base, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) {
        return nullptr;
    }
    void* original = nullptr;
    for (auto* dll = At<IMAGE_IMPORT_DESCRIPTOR>(base, imports.VirtualAddress); dll->Name != 0;
         ++dll) {
        // The name table stays as the linker wrote it; the address table holds what the loader
        // resolved, in the same order.
        const DWORD namesOffset =
            dll->OriginalFirstThunk != 0 ? dll->OriginalFirstThunk : dll->FirstThunk;
        auto* names = At<IMAGE_THUNK_DATA>(base, namesOffset);
        auto* slots = At<IMAGE_THUNK_DATA>(base, dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                At<IMAGE_IMPORT_BY_NAME>(base, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) {
                continue;
            }
            if (original == nullptr) {
                original = reinterpret_cast<void*>(slots->u1.Function);
            }
            WriteSlot(reinterpret_cast<ULONG_PTR*>(&slots->u1.Function), replacement);
        }
    }
    return original;
}

}  // namespace zntr::platform::windows
