// SetSystemTimeOverride for the test programs of the Windows build: the program's import slots of
// GetSystemTime and GetSystemTimeAsFileTime get functions that report the time set, if one is.
// The driver code is linked into the program, so its calls go there too; a system DLL's do not.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "standin/control.h"

namespace zntr::platform {
namespace {

std::atomic<bool> gSet{false};
std::atomic<std::uint64_t> gTicks{0};
void(WINAPI* gSystemTime)(LPSYSTEMTIME) = nullptr;
void(WINAPI* gSystemFileTime)(LPFILETIME) = nullptr;

void WINAPI FileTimeNow(LPFILETIME now) {
    if (!gSet.load()) {
        return gSystemFileTime(now);
    }
    *now = {static_cast<DWORD>(gTicks.load()), static_cast<DWORD>(gTicks.load() >> 32)};
}

void WINAPI TimeNow(LPSYSTEMTIME now) {
    if (!gSet.load()) {
        return gSystemTime(now);
    }
    FILETIME ticks;
    FileTimeNow(&ticks);
    FileTimeToSystemTime(&ticks, now);
}

// Writes `replacement` into every import slot of the program named `function`.
void Patch(const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
         imports != 0 && dll->Name != 0; ++dll) {
        // The names as the linker wrote them; the addresses the loader wrote, in the same order.
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (dll->OriginalFirstThunk != 0 ? dll->OriginalFirstThunk : dll->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            const auto* name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                base + static_cast<DWORD>(names->u1.AddressOfData));
            DWORD protection = 0;
            if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                std::strcmp(reinterpret_cast<const char*>(name->Name), function) == 0 &&
                VirtualProtect(slots, sizeof(*slots), PAGE_READWRITE, &protection)) {
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
                VirtualProtect(slots, sizeof(*slots), protection, &protection);
            }
        }
    }
}

}  // namespace

void SetSystemTimeOverride(std::optional<std::uint64_t> filetime) {
    static std::once_flag patched;
    std::call_once(patched, [] {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        gSystemTime = reinterpret_cast<decltype(gSystemTime)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemTime")));
        gSystemFileTime = reinterpret_cast<decltype(gSystemFileTime)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemTimeAsFileTime")));
        Patch("GetSystemTime", reinterpret_cast<void*>(&TimeNow));
        Patch("GetSystemTimeAsFileTime", reinterpret_cast<void*>(&FileTimeNow));
    });
    gTicks = filetime.value_or(0);
    gSet = filetime.has_value();
}

}  // namespace zntr::platform
