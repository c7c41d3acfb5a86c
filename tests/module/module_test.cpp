// The built driver module (ZntrLocation.so) loaded as the framework host loads it: what it
// exports, its entry routine with the registry setting and the trace registration, the class
// object and the class factory, and the module lock count that decides DllCanUnloadNow. The
// module shares this program's platform library, so the registry file, the trace controller, the
// COM class table and the debugger output seen here are the module's.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fake_class_extension.h"
#include "framework_fakes.h"
#include "loaded_module.h"
#include "loopback_tools.h"
#include "standin/control.h"
#include "standin/loader_control.h"
#include "standin/registry_control.h"
#include "standin/trace_control.h"

// The module's own constants.
#include "driver_class.h"
#include "trace_registration.h"

#ifndef ZNTR_MODULE_PATH
#error "the build must define ZNTR_MODULE_PATH, the path of the built driver module"
#endif
#ifndef ZNTR_SAMPLE_REGISTRY
#error "the build must define ZNTR_SAMPLE_REGISTRY, the path of data/registry/enable-log.reg"
#endif

namespace {

using zntr::platform::DebugOutputCapture;
using zntr::platform::ScopedRegistryFile;
using zntr::test::ComPtr;
using zntr::test::LoadedModule;
using zntr::test::MakeFake;
using zntr::test::TempFolder;

constexpr char kInsideDllMain[] = "***************Inside DLLMain\n**************";
constexpr char kOpenFailed[] = "Failed to open the registry\n";
constexpr char kQueryFailed[] = "Failed to query the Port value from registry\n";

const std::string kSettingsKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zentrova\\ZADOdizEzud]\r\n";

std::string RegFile(const std::string& body) {
    return "Windows Registry Editor Version 5.00\r\n\r\n" + body;
}

// The text as regedit exports it: UTF-16LE with a byte-order mark.
std::string Utf16File(const std::string& text) {
    std::string bytes = "\xFF\xFE";
    for (const char c : text) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        UseRegistry(std::nullopt);
        module_ = std::make_unique<LoadedModule>(ZNTR_MODULE_PATH);
    }
    void TearDown() override {
        if (attached_) {
            module_->DllMain(DLL_PROCESS_DETACH);
            attached_ = false;
        }
        EXPECT_TRUE(module_->Unload()) << "the module stays mapped after its last dlclose";
        zntr::platform::ForgetModule(instance_);
        registry_.reset();
        CoUninitialize();
    }

    // The registry file in force: std::nullopt for none, else the file written with these bytes.
    void UseRegistry(const std::optional<std::string>& bytes) {
        registry_.reset();
        registry_ = std::make_unique<ScopedRegistryFile>(
            bytes ? std::optional<std::string>(folder_.Write("settings.reg", *bytes))
                  : std::nullopt);
    }

    BOOL Attach() {
        instance_ = module_->Instance();
        const BOOL attached = module_->DllMain(DLL_PROCESS_ATTACH);
        attached_ = attached != FALSE;
        return attached;
    }
    BOOL Detach() {
        attached_ = false;
        return module_->DllMain(DLL_PROCESS_DETACH);
    }
    // Whether the log is on: the entry routine logs its first message only then.
    bool LogIsOn() {
        log_.Take();
        module_->DllMain(DLL_THREAD_ATTACH);
        for (const std::string& message : log_.Take()) {
            if (message == kInsideDllMain) {
                return true;
            }
        }
        return false;
    }

    ComPtr<IClassFactory> ClassFactory() {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(module_->DllGetClassObject(CLSID_ZntrLocationDriver, IID_IClassFactory,
                                             reinterpret_cast<void**>(factory.GetAddressOf())),
                  S_OK);
        return factory;
    }

    TempFolder folder_;
    DebugOutputCapture log_;
    std::unique_ptr<ScopedRegistryFile> registry_;
    std::unique_ptr<LoadedModule> module_;
    bool attached_ = false;
    HINSTANCE instance_ = nullptr;
};

TEST_F(ModuleTest, ExportsExactlyTheFiveNamesAndHasDllMainAsItsEntryPoint) {
    EXPECT_EQ(zntr::test::ExportedNames(ZNTR_MODULE_PATH),
              (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                     "DllUnregisterServer", "Microsoft_WDF_UMDF_Version"}));
    // The entry address is DllMain's, a symbol of the module's own table only.
    bool entryIsDllMain = false;
    for (const zntr::test::ElfSymbol& symbol :
         zntr::test::ReadElfSymbols(ZNTR_MODULE_PATH, SHT_SYMTAB)) {
        if (symbol.name == "DllMain" && symbol.defined && symbol.type == STT_FUNC) {
            entryIsDllMain = symbol.value == module_->EntryOffset();
        }
    }
    EXPECT_TRUE(entryIsDllMain);

    const UMDF_VERSION_DATA* version = module_->Version();
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->MajorNumber, 1u);
    EXPECT_EQ(version->MinorNumber, 9u);
    EXPECT_EQ(version->ServiceNumber, 0u);
    EXPECT_EQ(module_->DllRegisterServer(), S_OK);
    EXPECT_EQ(module_->DllUnregisterServer(), S_OK);
}

// EnableLog switches the log: on for any value but 0. Only the two registry failures reach the
// debugger output while it is off, and the entry routine's own message shows only once it is on.
TEST_F(ModuleTest, EnableLogFromTheRegistry) {
    struct Row {
        const char* legend;
        std::optional<std::string> file;
        std::vector<std::string> attachOutput;
        bool logOn;
    };
    const std::vector<Row> rows = {
        {"no registry file", std::nullopt, {kOpenFailed}, false},
        {"no settings key",
         RegFile("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"EnableLog\"=dword:00000001\r\n"),
         {kOpenFailed},
         false},
        {"the key without the value",
         RegFile(kSettingsKey + "\"Other\"=dword:00000001\r\n"),
         {kQueryFailed},
         false},
        {"EnableLog 0", RegFile(kSettingsKey + "\"EnableLog\"=dword:00000000\r\n"), {}, false},
        {"EnableLog 1", RegFile(kSettingsKey + "\"EnableLog\"=dword:00000001\r\n"), {}, true},
        {"EnableLog 2 is on too",
         RegFile(kSettingsKey + "\"EnableLog\"=dword:00000002\r\n"),
         {},
         true},
        {"a UTF-16 file as regedit exports it",
         Utf16File(RegFile(kSettingsKey + "\"enablelog\"=dword:00000001\r\n")),
         {},
         true},
        {"a file that does not parse is an empty registry",
         std::string("not a registry file"),
         {kOpenFailed},
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        TearDown();
        SetUp();
        UseRegistry(row.file);
        log_.Take();
        EXPECT_EQ(Attach(), TRUE);
        EXPECT_EQ(log_.Take(), row.attachOutput);
        EXPECT_EQ(LogIsOn(), row.logOn);
    }
}

// The sample file shipped in data/, named by ZNTR_REGISTRY as a user would name it.
TEST_F(ModuleTest, TheShippedSampleFileTurnsTheLogOn) {
    registry_.reset();
    zntr::platform::UseEnvironmentRegistryFile();
    ASSERT_EQ(setenv("ZNTR_REGISTRY", ZNTR_SAMPLE_REGISTRY, 1), 0);
    log_.Take();
    EXPECT_EQ(Attach(), TRUE);
    EXPECT_EQ(log_.Take(), std::vector<std::string>{});
    EXPECT_TRUE(LogIsOn());
    ASSERT_EQ(unsetenv("ZNTR_REGISTRY"), 0);
}

// The setting is read again on every call of the entry routine, detach included.
TEST_F(ModuleTest, TheSettingIsReadOnEveryCall) {
    UseRegistry(RegFile(kSettingsKey + "\"EnableLog\"=dword:00000002\r\n"));
    ASSERT_EQ(Attach(), TRUE);
    EXPECT_TRUE(LogIsOn());
    UseRegistry(RegFile(kSettingsKey + "\"EnableLog\"=dword:00000000\r\n"));
    // The call that reads 0 logs its message first, while the switch is still on.
    EXPECT_TRUE(LogIsOn());
    EXPECT_FALSE(LogIsOn());
}

TEST_F(ModuleTest, AttachRegistersTheTraceControlAndDetachUnregistersIt) {
    auto registered = [] {
        int count = 0;
        for (const zntr::platform::TraceRegistration& registration :
             zntr::platform::ListTraceRegistrations()) {
            count += IsEqualGUID(registration.controlGuid, TRACE_CONTROL_GUID) ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(registered(), 0);
    ASSERT_EQ(Attach(), TRUE);
    EXPECT_EQ(registered(), 1);
    EXPECT_TRUE(zntr::platform::ThreadLibraryCallsDisabled(module_->Instance()));

    // The control callback answers the controller: enable and disable succeed, anything else
    // is an invalid parameter.
    EXPECT_EQ(zntr::platform::EnableTraceControl(TRACE_CONTROL_GUID, 0x5A, 4, 0xF0),
              static_cast<ULONG>(ERROR_SUCCESS));
    EXPECT_EQ(zntr::platform::DisableTraceControl(TRACE_CONTROL_GUID),
              static_cast<ULONG>(ERROR_SUCCESS));
    EXPECT_EQ(zntr::platform::SendTraceRequest(TRACE_CONTROL_GUID, WMI_CAPTURE_STATE),
              static_cast<ULONG>(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(Detach(), TRUE);
    EXPECT_EQ(registered(), 0);
}

TEST_F(ModuleTest, TheClassObjectIsTheOneFactoryOfTheDriverClass) {
    ASSERT_EQ(Attach(), TRUE);
    void* result = this;
    EXPECT_EQ(module_->DllGetClassObject(IID_IClassFactory, IID_IClassFactory, &result),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(result, nullptr) << "the result is cleared";
    EXPECT_EQ(module_->DllGetClassObject(CLSID_ZntrLocationDriver, IID_IClassFactory, nullptr),
              E_POINTER);
    result = this;
    EXPECT_EQ(module_->DllGetClassObject(CLSID_ZntrLocationDriver, IID_IDriverEntry, &result),
              E_NOINTERFACE);
    EXPECT_EQ(result, nullptr);

    const ComPtr<IClassFactory> first = ClassFactory();
    const ComPtr<IClassFactory> second = ClassFactory();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.Get(), second.Get()) << "only one factory is ever made";
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(module_->DllGetClassObject(CLSID_ZntrLocationDriver, IID_IUnknown,
                                         reinterpret_cast<void**>(unknown.GetAddressOf())),
              S_OK);
    EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(first.Get()));

    // Once the module has ended there is no class object.
    ASSERT_EQ(Detach(), TRUE);
    result = this;
    EXPECT_EQ(module_->DllGetClassObject(CLSID_ZntrLocationDriver, IID_IClassFactory, &result),
              E_UNEXPECTED);
}

TEST_F(ModuleTest, TheFactoryRefusesAggregationAndCountsDriversAndLocks) {
    ASSERT_EQ(Attach(), TRUE);
    const ComPtr<IClassFactory> factory = ClassFactory();
    ASSERT_TRUE(factory);
    EXPECT_EQ(module_->DllCanUnloadNow(), S_OK) << "the factory itself does not count";

    void* result = this;
    EXPECT_EQ(factory->CreateInstance(factory.Get(), IID_IDriverEntry, &result),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDriverEntry, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &result), E_NOINTERFACE);
    EXPECT_EQ(module_->DllCanUnloadNow(), S_OK) << "a driver not handed out is destroyed";

    ComPtr<IDriverEntry> driver;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDriverEntry,
                                      reinterpret_cast<void**>(driver.GetAddressOf())),
              S_OK);
    EXPECT_EQ(driver->OnInitialize(nullptr), S_OK);
    EXPECT_EQ(module_->DllCanUnloadNow(), S_FALSE);
    driver = nullptr;
    EXPECT_EQ(module_->DllCanUnloadNow(), S_OK);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(module_->DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module_->DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(module_->DllCanUnloadNow(), S_OK);
}

// The module's driver adds and prepares a device with the fake framework, as a host would: while
// the device and its queue live the module cannot unload; once the framework lets them go it can.
TEST_F(ModuleTest, ADeviceAddedThroughTheModuleKeepsItLoadedUntilTheFrameworkLetsGo) {
    UseRegistry(RegFile(kSettingsKey + "\"EnableLog\"=dword:00000001\r\n"));
    ASSERT_EQ(Attach(), TRUE);
    zntr::test::RegisteredFakeClassExtension classExtension;
    ASSERT_EQ(classExtension.RegistrationResult(), S_OK);
    const ComPtr<IClassFactory> factory = ClassFactory();
    ASSERT_TRUE(factory);
    ComPtr<IDriverEntry> driver;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDriverEntry,
                                      reinterpret_cast<void**>(driver.GetAddressOf())),
              S_OK);

    const ComPtr<zntr::test::FakeWdfDriver> wdfDriver = MakeFake<zntr::test::FakeWdfDriver>();
    const ComPtr<zntr::test::FakeDeviceInitialize> init =
        MakeFake<zntr::test::FakeDeviceInitialize>(L"ROOT\\ZNTR\\0000");
    log_.Take();
    ASSERT_EQ(driver->OnDeviceAdd(wdfDriver.Get(), init.Get()), S_OK);
    const std::vector<std::string> log = log_.Take();
    EXPECT_NE(std::find(log.begin(), log.end(), "cMainDriver: Created main device, 0x00000000"),
              log.end());
    driver = nullptr;
    ASSERT_TRUE(wdfDriver->callbacks);
    EXPECT_EQ(module_->DllCanUnloadNow(), S_FALSE) << "the device lives";

    ComPtr<IPnpCallbackHardware> hardware;
    ASSERT_EQ(wdfDriver->callbacks->QueryInterface(
                  IID_IPnpCallbackHardware, reinterpret_cast<void**>(hardware.GetAddressOf())),
              S_OK);
    ASSERT_EQ(hardware->OnPrepareHardware(wdfDriver->device.Get()), S_OK);
    EXPECT_TRUE(wdfDriver->device->DefaultQueue());
    EXPECT_EQ(classExtension.Record().Calls(), std::vector<std::string>{"Initialize"});
    ASSERT_EQ(hardware->OnReleaseHardware(wdfDriver->device.Get()), S_OK);
    EXPECT_EQ(classExtension.Record().Calls(),
              (std::vector<std::string>{"Initialize", "Uninitialize"}));

    hardware = nullptr;
    wdfDriver->callbacks = nullptr;
    EXPECT_EQ(module_->DllCanUnloadNow(), S_FALSE) << "the queue still holds the device";
    wdfDriver->device->DeleteQueue();
    EXPECT_EQ(module_->DllCanUnloadNow(), S_OK);
}

}  // namespace
