// The driver scenario runner: each table of tests/data/scenarios is one scenario, run as one test.
// The built module (ZntrLocation.so) is loaded afresh for it as the framework host loads it, and
// each row is one step that the framework, the platform or a client takes, with the faults of
// its row injected for that step only. What the step gives is compared with the row: the
// callback's result, the calls the sensor class extension saw and the completions of requests,
// the sensor's state as the platform reads it, the stream connections open at the hotspot, and
// whether the module may be unloaded. Effects that come later from the driver's threads (a
// posted event, a stream that opens or closes) are waited for until the row's values hold. The
// lines the step's callback logs go to a golden log beside the table (<name>.log).
//
// The world: the fake sensor class extension, a status page and a stream on loopback (a network
// map sends the hotspot's name there), the shipped device database, a registry file of the
// scenario's own.
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <sstream>
#include <thread>

#include "default_device.h"
#include "driver_class.h"
#include "driver_log.h"
#include "fake_class_extension.h"
#include "framework_world.h"
#include "hotspot_device.h"
#include "scripted_peer.h"
#include "standin/com_control.h"
#include "standin/device_database_control.h"
#include "standin/libloaderapi.h"
#include "standin/network_control.h"
#include "standin/registry_control.h"
#include "standin/resource_control.h"
#include "standin/sensors.h"
#include "standin/trace_control.h"
#include "table_tests.h"
#include "trace_registration.h"
#include "wait_until.h"
#include "wire_text.h"

namespace {

using namespace zntr::test;
using Cells = std::vector<std::string>;
using namespace std::chrono_literals;

// clang-format off
#define ZNTR_NAMED(value) {#value, value}
#define ZNTR_WIN32(error) {#error, HRESULT_FROM_WIN32(error)}
const std::pair<const char*, HRESULT> kStatuses[] = {
    ZNTR_NAMED(S_OK), ZNTR_NAMED(S_FALSE), ZNTR_NAMED(E_FAIL), ZNTR_NAMED(E_UNEXPECTED),
    ZNTR_NAMED(E_OUTOFMEMORY), ZNTR_NAMED(E_INVALIDARG), ZNTR_NAMED(E_NOINTERFACE),
    ZNTR_NAMED(E_POINTER), ZNTR_NAMED(E_ACCESSDENIED), ZNTR_NAMED(CLASS_E_NOAGGREGATION),
    ZNTR_NAMED(CLASS_E_CLASSNOTAVAILABLE), ZNTR_NAMED(REGDB_E_CLASSNOTREG),
    ZNTR_NAMED(STG_E_ACCESSDENIED), ZNTR_WIN32(ERROR_NOT_SUPPORTED),
    ZNTR_WIN32(ERROR_INSUFFICIENT_BUFFER), ZNTR_WIN32(ERROR_NOT_ENOUGH_MEMORY)};
// clang-format on
const std::pair<const char*, CLSID> kClasses[] = {
    {"SensorClassExtension", CLSID_SensorClassExtension},
    {"PortableDeviceValues", CLSID_PortableDeviceValues},
    {"PortableDeviceKeyCollection", CLSID_PortableDeviceKeyCollection}};

std::string Status(HRESULT hr) {
    for (const auto& [name, value] : kStatuses) {
        if (value == hr) {
            return name;
        }
    }
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(hr));
    return hex;
}

template <typename Value, std::size_t N>
Value Named(const std::pair<const char*, Value> (&table)[N], const std::string& name) {
    for (const auto& [known, value] : table) {
        if (name == known) {
            return value;
        }
    }
    throw std::runtime_error("nothing named " + name);
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

// A step that the state of the scenario does not allow (no sensor to connect to, ...).
struct Impossible {};
template <typename Pointer>
Pointer& Need(Pointer& pointer) {
    if (!pointer) {
        throw Impossible{};
    }
    return pointer;
}

// The module as the framework host loads it: DllMain is its entry point, found from the ELF
// header, and the rest are exports.
class Module {
  public:
    Module() : handle_(dlopen(ZNTR_MODULE_PATH, RTLD_NOW | RTLD_LOCAL)) {
        link_map* map = nullptr;
        if (handle_ == nullptr || dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0) {
            throw std::runtime_error("the module does not load");
        }
        instance_ = reinterpret_cast<HINSTANCE>(map->l_addr);
        main_ = reinterpret_cast<decltype(main_)>(
            map->l_addr + reinterpret_cast<const Elf64_Ehdr*>(map->l_addr)->e_entry);
        classObject_ =
            reinterpret_cast<decltype(classObject_)>(dlsym(handle_, "DllGetClassObject"));
        canUnload_ = reinterpret_cast<decltype(canUnload_)>(dlsym(handle_, "DllCanUnloadNow"));
    }
    ~Module() { Unload(); }
    BOOL Main(DWORD reason) { return main_(instance_, reason, nullptr); }
    HRESULT ClassObject(REFCLSID clsid, REFIID iid, void** object) {
        return classObject_(clsid, iid, object);
    }
    bool Unloadable() { return canUnload_() == S_OK; }
    // Whether the module is gone from the process after its last close.
    bool Unload() {
        if (handle_ != nullptr) {
            dlclose(std::exchange(handle_, nullptr));
        }
        void* still = dlopen(ZNTR_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
        return still == nullptr || dlclose(still) != 0;
    }

  private:
    void* handle_;
    HINSTANCE instance_ = nullptr;
    BOOL (*main_)(HINSTANCE, DWORD, LPVOID) = nullptr;
    HRESULT (*classObject_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT (*canUnload_)() = nullptr;
};

class Scenario {
  public:
    Scenario()
        : stream_({{}, false, false, false}),
          status_({{"HTTP/1.1 200 OK\r\n\r\nGPSEnable=1\x1bWwIpaddr=127.0.0.1\x1bWwPort=" +
                    std::to_string(stream_.Port()) + "\x1b"}}),
          network_({HOTSPOT_WEB_API_HOST_NAME "=127.0.0.1;127.0.0.1:80=127.0.0.1:" +
                        std::to_string(status_.Port()),
                    false}),
          database_(zntr::platform::DefaultDeviceDatabasePath()) {}
    ~Scenario() {
        added_.Remove();
        requests_.reset();
        entry_ = nullptr;
        factory_ = nullptr;
        if (module_ && attached_) {
            module_->Main(DLL_PROCESS_DETACH);
        }
        module_.reset();
    }

    void Run(const Table& table) {
        std::vector<TableRow> rebuilt;
        std::string log;
        for (TableRow row : table.rows) {
            row.cells.resize(7);
            const std::size_t calls = extension_.Calls().size();
            const std::size_t done = requests_ ? requests_->Completions().size() : 0;
            log_.Take();
            Cells cells = {row[0], row[1], Step(row[0], row[1])};
            // All that a stream brings comes from the driver's threads.
            const std::size_t sync =
                row[0].starts_with("stream") ? calls : extension_.Calls().size();
            std::size_t syncDone = requests_ ? requests_->Completions().size() : 0;
            log += "## " + row[0] + (row[1].empty() ? "" : " [" + row[1] + "]") + "\n";
            for (const std::string& line : log_.TakeOwn()) {
                log += Escape(line) + "\n";
            }
            const auto observe = [&] {
                return Cells{Calls(calls, sync, done, syncDone), Sensor(),
                             std::to_string(stream_.OpenConnections()),
                             module_ ? (module_->Unloadable() ? "yes" : "no") : "-"};
            };
            Cells observed = observe();
            if (RebuildingGoldens()) {
                // Settled once nothing changed for a second.
                for (Cells before; before != observed; observed = observe()) {
                    before = observed;
                    std::this_thread::sleep_for(1s);
                }
            } else {
                const Cells expected(row.cells.begin() + 3, row.cells.end());
                WaitUntil([&] { return (observed = observe()) == expected; }, 30s);
                EXPECT_EQ(Cells(row.cells.begin() + 2, row.cells.end()),
                          (Cells{cells[2], observed[0], observed[1], observed[2], observed[3]}))
                    << table.Where(row) << ": " << row[0];
            }
            cells.insert(cells.end(), observed.begin(), observed.end());
            rebuilt.push_back({row.line, cells});
        }
        if (RebuildingGoldens()) {
            RewriteTable(table, rebuilt);
        }
        std::filesystem::path golden = table.path;
        const std::string difference = CompareWithGoldenFile(golden.replace_extension(".log"), log);
        EXPECT_EQ(difference, "");
    }

  private:
    // The class extension's calls and the requests' completions since the step began; those
    // that came after its callback had returned, from the driver's threads, sorted.
    std::string Calls(std::size_t from, std::size_t sync, std::size_t doneFrom,
                      std::size_t doneSync) {
        std::vector<std::string> calls = extension_.Calls();
        std::vector<std::string> done;
        for (const Requests::Completion& c :
             requests_ ? requests_->Completions() : std::vector<Requests::Completion>{}) {
            done.push_back("#" + std::to_string(c.request) + " " + Status(c.status) + " " +
                           std::to_string(c.information));
        }
        std::sort(calls.begin() + static_cast<long>(std::min(sync, calls.size())), calls.end());
        std::sort(done.begin() + static_cast<long>(std::min(doneSync, done.size())), done.end());
        std::string text;
        calls.insert(calls.end(), done.begin() + static_cast<long>(doneFrom), done.end());
        for (std::size_t i = from; i < calls.size(); ++i) {
            text += (text.empty() ? "" : ", ") + calls[i];
        }
        return text.empty() ? "-" : text;
    }

    // The state the platform reads from the sensor, while the class extension has one.
    std::string Sensor() {
        const ComPtr<ISensorDriver> sensor = extension_.Sensor();
        ComPtr<IPortableDeviceKeyCollection> keys;
        ComPtr<IPortableDeviceValues> values;
        PROPVARIANT state;
        PropVariantInit(&state);
        std::wstring id = L"ZntrVComLocation";
        if (!sensor ||
            FAILED(CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr,
                                    CLSCTX_INPROC_SERVER, IID_IPortableDeviceKeyCollection,
                                    reinterpret_cast<void**>(keys.GetAddressOf()))) ||
            FAILED(keys->Add(SENSOR_PROPERTY_STATE)) ||
            FAILED(
                sensor->OnGetProperties(nullptr, id.data(), keys.Get(), values.GetAddressOf())) ||
            FAILED(values->GetValue(SENSOR_PROPERTY_STATE, &state))) {
            return "none";
        }
        const char* const names[] = {"READY", "NOT_AVAILABLE", "NO_DATA", "INITIALIZING"};
        return state.ulVal < 4 ? names[state.ulVal] : std::to_string(state.ulVal);
    }

    // Sets the row's fault up, does the step, and takes the fault away.
    std::string Step(const std::string& step, const std::string& fault) {
        const Cells f = Words(fault);
        std::optional<zntr::platform::ComCreationFailure> creation;
        if (f.size() == 2 && f[0] == "heap") {
            zntr::platform::FailNextHeapAllocations(std::stoi(f[1]));
        } else if (f.size() == 2 && f[0] == "thread") {
            zntr::platform::FailNextThreadCreations(std::stoi(f[1]));
        } else if (f.size() == 4 && f[0] == "create") {
            creation.emplace(Named(kClasses, f[1]), Named(kStatuses, f[3]), std::stoul(f[2]));
        } else if (f.size() == 3 && f[0] == "device") {
            Need(added_.device)->Fail(f[1], Named(kStatuses, f[2]));
        } else if (f.size() == 3 && f[0] == "extension") {
            extension_.SetAnswer(f[1], Named(kStatuses, f[2]));
        } else if (!f.empty()) {
            throw std::runtime_error("no fault " + fault);
        }
        std::string result;
        try {
            result = Do(Words(step), step.substr(std::min(step.size(), step.find(' ') + 1)));
        } catch (const Impossible&) {
            result = "impossible";
        }
        zntr::platform::FailNextHeapAllocations(0);
        zntr::platform::FailNextThreadCreations(0);
        if (added_.device) {
            added_.device->Heal();
        }
        if (f.size() == 3 && f[0] == "extension") {
            extension_.SetAnswer(f[1], S_OK);
        }
        return result;
    }

    std::string Do(const Cells& s, const std::string& rest) {
        const std::string what = s.empty() ? "" : s[0];
        std::wstring id = L"ZntrVComLocation";
        IWDFFile* file = requests_ ? requests_->File() : nullptr;
        const auto status = [](HRESULT hr) { return Status(hr); };
        if (what == "load") {
            Load(rest);
            attached_ = module_->Main(DLL_PROCESS_ATTACH) != FALSE;
            return attached_ ? "TRUE" : "FALSE";
        }
        if (what == "detach") {
            attached_ = false;
            return Need(module_)->Main(DLL_PROCESS_DETACH) ? "TRUE" : "FALSE";
        }
        if (what == "thread") {
            return Need(module_)->Main(DLL_THREAD_ATTACH) ? "TRUE" : "FALSE";
        }
        if (what == "unload") {
            factory_ = nullptr;
            // "unload undetached": as a process that ends without the module's detach.
            if (std::exchange(attached_, false) && rest != "undetached") {
                Need(module_)->Main(DLL_PROCESS_DETACH);
            }
            return std::exchange(module_, nullptr)->Unload() ? "unloaded" : "still mapped";
        }
        if (what == "class") {
            factory_ = nullptr;
            return status(Need(module_)->ClassObject(
                rest == "other" ? IID_IUnknown : CLSID_ZntrLocationDriver,
                rest == "entry" ? IID_IDriverEntry : IID_IClassFactory,
                rest == "null" ? nullptr : reinterpret_cast<void**>(factory_.GetAddressOf())));
        }
        if (what == "driver") {
            entry_ = nullptr;
            return status(Need(factory_)->CreateInstance(
                rest == "aggregated" ? factory_.Get() : nullptr, IID_IDriverEntry,
                rest == "null" ? nullptr : reinterpret_cast<void**>(entry_.GetAddressOf())));
        }
        if (what == "trace") {  // a trace session asks the module's control GUID
            return std::to_string(
                rest == "enable" ? zntr::platform::EnableTraceControl(TRACE_CONTROL_GUID, 7, 4, 1)
                : rest == "disable"
                    ? zntr::platform::DisableTraceControl(TRACE_CONTROL_GUID)
                    : zntr::platform::SendTraceRequest(TRACE_CONTROL_GUID, WMI_GET_ALL_DATA));
        }
        if (what == "lock" || what == "unlock") {
            return status(Need(factory_)->LockServer(what == "lock"));
        }
        if (what == "add") {
            const HRESULT hr =
                rest == "again" ? Need(entry_)->OnDeviceAdd(added_.driver.Get(), added_.init.Get())
                                : added_.Add(Need(entry_).Get(), InstanceId(rest));
            if (added_.device && !requests_) {
                requests_ = std::make_unique<Requests>(added_.device.Get());
            }
            return status(hr);
        }
        if (what == "remove") {
            added_.Remove();
            return "-";
        }
        if (what == "release" && rest == "driver") {
            entry_ = nullptr;
            return "-";
        }
        IWDFDevice* device = Need(added_.device).Get();
        if (what == "prepare") {
            return status(
                Need(added_.hardware)->OnPrepareHardware(rest == "null" ? nullptr : device));
        }
        if (what == "release") {
            return status(Need(added_.hardware)->OnReleaseHardware(device));
        }
        if (what == "D0") {
            added_.device->Real().SetSystemPowerAction(s[2] == "sleep"       ? PowerActionSleep
                                                       : s[2] == "hibernate" ? PowerActionHibernate
                                                       : s[2] == "shutdown"  ? PowerActionShutdown
                                                                             : PowerActionNone);
            const HRESULT hr = s[1] == "entry"
                                   ? Need(added_.pnp)->OnD0Entry(device, WdfPowerDeviceD3)
                                   : Need(added_.pnp)->OnD0Exit(device, WdfPowerDeviceD3);
            added_.device->Real().SetSystemPowerAction(PowerActionNone);
            return status(hr);
        }
        if (what == "query") {
            return status(rest == "remove" ? Need(added_.pnp)->OnQueryRemove(device)
                                           : Need(added_.pnp)->OnQueryStop(device));
        }
        if (what == "surprise") {
            Need(added_.pnp)->OnSurpriseRemoval(device);
            return "-";
        }
        if (what == "cleanup") {
            Need(added_.cleanup)->OnCleanupFile(file);
            return "-";
        }
        if (what == "stream") {
            return stream_.Send(Unescape(rest)) ? "-" : "not taken";
        }
        if (what == "hotspot") {
            // "off": the status page refuses connections (port 1 of loopback); "on": it answers.
            const std::string page = rest == "off" ? "1" : std::to_string(status_.Port());
            zntr::platform::SetNetworkSettings(
                {HOTSPOT_WEB_API_HOST_NAME "=127.0.0.1;127.0.0.1:80=127.0.0.1:" + page, false});
            return "-";
        }
        ComPtr<ISensorDriver> sensor = extension_.Sensor();
        if (what == "connect") {
            return status(Need(sensor)->OnClientConnect(file, id.data()));
        }
        if (what == "disconnect") {
            return status(Need(sensor)->OnClientDisconnect(file, id.data()));
        }
        if (what == "subscribe") {
            return status(Need(sensor)->OnClientSubscribeToEvents(file, id.data()));
        }
        if (what == "unsubscribe") {
            return status(Need(sensor)->OnClientUnsubscribeFromEvents(file, id.data()));
        }
        ComPtr<IUnknown> queue = added_.device->QueueCallbacks();
        if (what == "open") {
            Need(queue);
            added_.device->Queue<IQueueCallbackCreate>(IID_IQueueCallbackCreate)
                ->OnCreateFile(nullptr, requests_->Create().Get(), file);
        } else if (what == "read") {
            Need(queue);
            added_.device->Queue<IQueueCallbackRead>(IID_IQueueCallbackRead)
                ->OnRead(nullptr, requests_->Read(std::stoul(rest)).Get(), std::stoul(rest));
        } else if (what == "ioctl") {
            const ULONG code = std::stoul(rest, nullptr, 16);
            Need(queue);
            added_.device->Queue<IQueueCallbackDeviceIoControl>(IID_IQueueCallbackDeviceIoControl)
                ->OnDeviceIoControl(nullptr, requests_->IoControl(code).Get(), code, 0, 64);
        } else {
            throw std::runtime_error("no step " + what);
        }
        return "-";
    }

    // The default device's ID, or "X*N": N times X.
    static std::wstring InstanceId(const std::string& text) {
        const std::size_t star = text.find('*');
        if (star == std::string::npos) {
            return zntr::host::kDefaultDeviceInstanceId;
        }
        std::wstring id;
        for (int i = std::stoi(text.substr(star + 1)); i > 0; --i) {
            id += std::wstring(text.begin(), text.begin() + static_cast<long>(star));
        }
        return id;
    }

    // The registry the entry routine reads: a .reg file beside the tables.
    void Load(const std::string& registry) {
        registry_.emplace(ZNTR_TEST_DATA "/scenarios/" + registry + ".reg");
        module_ = std::make_unique<Module>();
    }

    ComApartment apartment_;
    FakeClassExtension extension_;
    ScriptedPeer stream_;
    ScriptedPeer status_;
    zntr::platform::ScopedNetworkSettings network_;
    zntr::platform::ScopedDeviceDatabase database_;
    std::optional<zntr::platform::ScopedRegistryFile> registry_;
    DriverLog log_;
    std::unique_ptr<Module> module_;
    bool attached_ = false;
    ComPtr<IClassFactory> factory_;
    ComPtr<IDriverEntry> entry_;
    AddedDevice added_;
    std::unique_ptr<Requests> requests_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (const auto& file : FilesEndingIn(ZNTR_TEST_DATA "/scenarios", ".table")) {
        const std::string name = file.stem().string();
        testing::RegisterTest("Scenario", name.c_str(), nullptr, nullptr, file.string().c_str(), 1,
                              [file]() -> testing::Test* {
                                  struct Run : testing::Test {
                                      std::filesystem::path file;
                                      void TestBody() override { Scenario().Run(ReadTable(file)); }
                                  };
                                  auto* test = new Run;
                                  test->file = file;
                                  return test;
                              });
    }
    return RUN_ALL_TESTS();
}
