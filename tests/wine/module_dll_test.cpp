// The driver module as Windows loads it: ZntrLocation.dll, built against the SDK, loaded with
// LoadLibrary in this process. DllMain reads EnableLog through the registry functions (here the
// private Wine prefix's registry, written by the test), and the five exports answer as a COM
// in-process server's do.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "driver_class.h"
#include "driver_platform.h"
#include "standin/control.h"

namespace {

using Log = std::vector<std::string>;

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Zentrova\\ZADOdizEzud";
constexpr char kOpenFailed[] = "Failed to open the registry\n";
constexpr char kQueryFailed[] = "Failed to query the Port value from registry\n";
constexpr char kInsideDllMain[] = "***************Inside DLLMain\n**************";

// The settings key as a row asks for it: absent, present without EnableLog, or with a value.
struct Settings {
    bool key;
    std::optional<DWORD> enableLog;
};

void WriteSettings(const Settings& settings) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey);
    if (!settings.key) {
        return;
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    if (settings.enableLog) {
        const DWORD value = *settings.enableLog;
        EXPECT_EQ(RegSetValueExW(key, L"EnableLog", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
    }
    RegCloseKey(key);
}

class ModuleDllTest : public ::testing::Test {
  protected:
    void TearDown() override { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKey); }

    // Loads the module (process attach) and unloads it again (process detach); the debugger
    // output of both.
    Log LoadAndUnload() {
        zntr::platform::DebugOutputCapture capture;
        HMODULE module = LoadLibraryW(L"ZntrLocation.dll");
        EXPECT_NE(module, nullptr) << "error " << GetLastError();
        if (module != nullptr) {
            EXPECT_TRUE(FreeLibrary(module));
        }
        EXPECT_EQ(GetModuleHandleW(L"ZntrLocation.dll"), nullptr) << "unloaded";
        return capture.Take();
    }
};

TEST_F(ModuleDllTest, DllMainReadsEnableLogFromTheRegistry) {
    // The entry message is logged before the setting is read, so only the detach shows it, and
    // only when the attach found the log on.
    const struct {
        const char* legend;
        Settings settings;
        Log log;
    } rows[] = {
        {"no key: both calls fail to open it", {false, std::nullopt}, {kOpenFailed, kOpenFailed}},
        {"a key without the value", {true, std::nullopt}, {kQueryFailed, kQueryFailed}},
        {"EnableLog 0: off", {true, 0}, {}},
        {"EnableLog 1: on, the detach logs", {true, 1}, {kInsideDllMain}},
        {"any value but 0 is on", {true, 7}, {kInsideDllMain}},
    };
    for (const auto& row : rows) {
        WriteSettings(row.settings);
        EXPECT_EQ(LoadAndUnload(), row.log) << row.legend;
    }
}

TEST_F(ModuleDllTest, ExportsAnswerAsACOMServerDoes) {
    WriteSettings({true, 0});
    HMODULE module = LoadLibraryW(L"ZntrLocation.dll");
    ASSERT_NE(module, nullptr);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnloadNow = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_NE(GetProcAddress(module, "DllRegisterServer"), nullptr);
    EXPECT_NE(GetProcAddress(module, "DllUnregisterServer"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "DllMain"), nullptr) << "the entry routine is no export";
    const auto* version =
        reinterpret_cast<const ULONG*>(GetProcAddress(module, "Microsoft_WDF_UMDF_Version"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version[0], 1u);
    EXPECT_EQ(version[1], 9u);
    EXPECT_EQ(version[2], 0u);

    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_ZntrLocationDriver, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
              S_OK);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a LockServer lock keeps the module";
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    factory->Release();
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
