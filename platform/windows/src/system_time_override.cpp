// SetSystemTimeOverride on Windows: the program's imports of GetSystemTime and
// GetSystemTimeAsFileTime are redirected (import_patch.h) to functions that report the set time
// while one is set and ask the system otherwise.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "import_patch.h"
#include "standin/control.h"

namespace zntr::platform {
namespace {

using GetSystemTimeFunction = void(WINAPI*)(LPSYSTEMTIME);
using GetSystemTimeAsFileTimeFunction = void(WINAPI*)(LPFILETIME);

std::atomic<bool> gOverrideActive{false};
std::atomic<std::uint64_t> gOverrideTicks{0};
GetSystemTimeFunction gSystemGetSystemTime = nullptr;
GetSystemTimeAsFileTimeFunction gSystemGetSystemTimeAsFileTime = nullptr;

FILETIME OverrideFileTime() {
    const std::uint64_t ticks = gOverrideTicks.load(std::memory_order_relaxed);
    FILETIME fileTime;
    fileTime.dwLowDateTime = static_cast<DWORD>(ticks);
    fileTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return fileTime;
}

void WINAPI OverriddenGetSystemTimeAsFileTime(LPFILETIME fileTime) {
    if (gOverrideActive.load(std::memory_order_acquire)) {
        *fileTime = OverrideFileTime();
        return;
    }
    gSystemGetSystemTimeAsFileTime(fileTime);
}

void WINAPI OverriddenGetSystemTime(LPSYSTEMTIME systemTime) {
    if (gOverrideActive.load(std::memory_order_acquire)) {
        const FILETIME fileTime = OverrideFileTime();
        FileTimeToSystemTime(&fileTime, systemTime);
        return;
    }
    gSystemGetSystemTime(systemTime);
}

void InstallOnce() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        // The system's functions, for the calls made while no time is set.
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        gSystemGetSystemTime = reinterpret_cast<GetSystemTimeFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemTime")));
        gSystemGetSystemTimeAsFileTime = reinterpret_cast<GetSystemTimeAsFileTimeFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemTimeAsFileTime")));
        windows::PatchProgramImport("GetSystemTime",
                                    reinterpret_cast<void*>(&OverriddenGetSystemTime));
        windows::PatchProgramImport("GetSystemTimeAsFileTime",
                                    reinterpret_cast<void*>(&OverriddenGetSystemTimeAsFileTime));
    });
}

}  // namespace

void SetSystemTimeOverride(std::optional<std::uint64_t> filetime) {
    InstallOnce();
    if (filetime) {
        gOverrideTicks.store(*filetime, std::memory_order_relaxed);
        gOverrideActive.store(true, std::memory_order_release);
    } else {
        gOverrideActive.store(false, std::memory_order_release);
    }
}

}  // namespace zntr::platform
