// The module's entry routine and its one setting.
//
// DllMain is the module's ELF entry point (the linker's -e), not an export: as on Windows, the
// loader finds it from the module's header and calls it on process attach and detach. The
// module's global objects, its lock among them, are constructed when it is loaded, before that.
#include "debug_log.h"
#include "module_state.h"
#include "trace_registration.h"

namespace {

// HKEY_LOCAL_MACHINE\SOFTWARE\Zentrova\ZADOdizEzud\, value EnableLog (REG_DWORD).
constexpr char SETTINGS_KEY[] = "SOFTWARE\\Zentrova\\ZADOdizEzud\\";
constexpr char ENABLE_LOG_VALUE[] = "EnableLog";

// Closes the settings key on every way out.
class cRegistryKey {
  public:
    cRegistryKey() = default;
    ~cRegistryKey() {
        if (mhKey != nullptr) {
            RegCloseKey(mhKey);
        }
    }
    cRegistryKey(const cRegistryKey&) = delete;
    cRegistryKey& operator=(const cRegistryKey&) = delete;
    PHKEY Out() { return &mhKey; }
    HKEY Get() const { return mhKey; }

  private:
    HKEY mhKey = nullptr;
};

// Sets gEnableLog from EnableLog: 1 when the value is there and not 0, else 0. The two failure
// messages go straight to the debugger output, whatever the log's switch says; a key that cannot
// be opened leaves the switch as it was.
void ReadLogSetting() {
    cRegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_READ, key.Out()) != ERROR_SUCCESS) {
        OutputDebugStringA("Failed to open the registry\n");
        return;
    }
    DWORD enableLog = 0;
    DWORD type = REG_DWORD;
    DWORD size = sizeof(enableLog);
    if (RegQueryValueExA(key.Get(), ENABLE_LOG_VALUE, nullptr, &type,
                         reinterpret_cast<LPBYTE>(&enableLog), &size) != ERROR_SUCCESS) {
        OutputDebugStringA("Failed to query the Port value from registry\n");
    }
    gEnableLog = enableLog != 0 ? 1 : 0;
}

}  // namespace

// The message is logged before the setting is read, so it shows only when the switch was already
// on: never at the first load. The setting is read on every call, detach included.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*lpReserved*/) {
    DebugLog("***************Inside DLLMain\n**************");
    if (dwReason == DLL_PROCESS_DETACH) {
        UnregisterTraceControl();
        gModule.Term();
    } else if (dwReason == DLL_PROCESS_ATTACH) {
        RegisterTraceControl();
        DisableThreadLibraryCalls(hInstance);
    }
    ReadLogSetting();
    if (dwReason == DLL_PROCESS_ATTACH && gModule.InitializationFailed()) {
        return FALSE;
    }
    return TRUE;
}
