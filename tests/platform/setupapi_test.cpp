// Conformance of the Setup API's device enumeration over a device database of the test's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device_database_file.h"
#include "standin/device_database_control.h"
#include "standin/devpkey.h"
#include "standin/errhandlingapi.h"
#include "standin/handleapi.h"
#include "standin/setupapi.h"
#include "standin/winerror.h"

namespace {

using zntr::platform::ScopedDeviceDatabase;
using zntr::test::DeviceDatabaseFile;
using zntr::test::kComPortClass;
using zntr::test::kNetworkAdapterClass;
using zntr::test::TestDevice;

constexpr DWORD kAll = DIGCF_DEVICEINTERFACE;
constexpr DWORD kPresent = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr DWORD kFixedPart = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
const GUID& kPorts = GUID_DEVINTERFACE_COMPORT;
const GUID& kAdapters = GUID_NDIS_LAN_CLASS;

// A: a present USB serial port; B: a root serial port that is not present; C: a present PCI
// device without a friendly name that has a network adapter (C) and a serial port (C2).
const std::vector<TestDevice> kDevices = {
    {"USB\\VID_F00D&PID_7E57&MI_02\\7&1&0&2",
     true,
     "Port A (COM7)",
     {{kComPortClass, "\\\\?\\USB#A#{86e0d1e0-8089-11d0-9ce4-08003e301f73}"}}},
    {"ROOT\\PORTS\\0000",
     false,
     "Port B (COM3)",
     {{kComPortClass, "\\\\?\\ROOT#B#{86e0d1e0-8089-11d0-9ce4-08003e301f73}"}}},
    {"PCI\\VEN_FEED&DEV_0001\\3&1&0&C8",
     true,
     std::nullopt,
     {{kNetworkAdapterClass, "\\\\?\\PCI#C#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{0B7F}"},
      {kComPortClass, "\\\\?\\PCI#C2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}"}}},
};
const std::wstring kA = L"\\\\?\\USB#A#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
const std::wstring kB = L"\\\\?\\ROOT#B#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
const std::wstring kC = L"\\\\?\\PCI#C#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{0B7F}";
const std::wstring kC2 = L"\\\\?\\PCI#C2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";

template <typename Data>
Data Sized() {
    Data data = {};
    data.cbSize = sizeof(data);
    return data;
}

// An interface's path by the documented two calls, a size query and then the read.
std::wstring PathOf(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data, SP_DEVINFO_DATA* device) {
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<std::uint64_t> storage(required / sizeof(std::uint64_t) + 1);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, device));
    return detail->DevicePath;
}

// The index-th interface of the class, with its device.
SP_DEVICE_INTERFACE_DATA Interface(HDEVINFO set, const GUID& cls, DWORD index,
                                   SP_DEVINFO_DATA* device = nullptr) {
    SP_DEVICE_INTERFACE_DATA data = Sized<SP_DEVICE_INTERFACE_DATA>();
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &cls, index, &data));
    if (device != nullptr) {
        PathOf(set, data, device);
    }
    return data;
}

class SetupApiTest : public ::testing::Test {
  protected:
    HDEVINFO Set(DWORD flags, const GUID* cls = &kPorts, const wchar_t* enumerator = nullptr) {
        const HDEVINFO set = SetupDiGetClassDevsW(cls, enumerator, nullptr, flags);
        EXPECT_NE(set, INVALID_HANDLE_VALUE);
        sets_.push_back(set);
        return set;
    }
    void TearDown() override {
        for (const HDEVINFO set : sets_) {
            EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
        }
    }

    DeviceDatabaseFile file_{kDevices};
    ScopedDeviceDatabase database_{file_.path()};
    std::vector<HDEVINFO> sets_;
};

TEST_F(SetupApiTest, AnInterfaceSetListsItsClassInDatabaseOrderUntilNoMoreItems) {
    struct Case {
        const char* legend;
        const GUID* setClass;
        DWORD flags;
        const wchar_t* enumerator;
        const GUID& listed;
        std::vector<std::wstring> paths;
    };
    const Case cases[] = {
        {"present ports only", &kPorts, kPresent, nullptr, kPorts, {kA, kC2}},
        {"ports present or not", &kPorts, kAll, nullptr, kPorts, {kA, kB, kC2}},
        {"adapters", &kAdapters, kAll, nullptr, kAdapters, {kC}},
        {"a set of ports lists no adapters", &kPorts, kAll, nullptr, kAdapters, {}},
        {"all classes, ports listed",
         nullptr,
         kAll | DIGCF_ALLCLASSES,
         nullptr,
         kPorts,
         {kA, kB, kC2}},
        {"a class no device has", &GUID_DEVINTERFACE_NET, kAll, nullptr, GUID_DEVINTERFACE_NET, {}},
        {"an enumerator, in any case", &kPorts, kAll, L"usb", kPorts, {kA}},
        {"an enumerator given as an instance ID",
         &kPorts,
         kAll,
         L"root\\ports\\0000",
         kPorts,
         {kB}},
        {"a part of an enumerator is none", &kPorts, kAll, L"US", kPorts, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const HDEVINFO set = Set(c.flags, c.setClass, c.enumerator);
        std::vector<std::wstring> paths;
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA data = Sized<SP_DEVICE_INTERFACE_DATA>();
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &c.listed, index, &data)) {
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
                break;
            }
            EXPECT_TRUE(IsEqualGUID(data.InterfaceClassGuid, c.listed));
            paths.push_back(PathOf(set, data, nullptr));
            // Only port B's device is not present: its interface is listed inactive.
            EXPECT_EQ(data.Flags, paths.back() == kB ? 0u : SPINT_ACTIVE);
        }
        EXPECT_EQ(paths, c.paths);
    }
}

TEST_F(SetupApiTest, TheDetailNeedsTheFixedPartAndThePathWithItsTerminator) {
    const HDEVINFO set = Set(kPresent);
    SP_DEVICE_INTERFACE_DATA data = Interface(set, kPorts, 0);
    const DWORD needed = static_cast<DWORD>(kFixedPart + (kA.size() + 1) * sizeof(WCHAR));
    std::vector<std::uint64_t> storage(needed / 8 + 1);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    DWORD required = 0;
    EXPECT_FALSE(
        SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed - 1, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, needed);
    SP_DEVINFO_DATA device = Sized<SP_DEVINFO_DATA>();
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, &required, &device));
    EXPECT_EQ(detail->DevicePath, kA);
    EXPECT_NE(device.DevInst, 0u);
}

TEST_F(SetupApiTest, DevicePropertiesAreStringsWithTheirTerminatorOrNotFound) {
    const HDEVINFO set = Set(kPresent);
    const DEVPROPKEY kBusReportedDescription = {
        {0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}}, 4};
    const DEVPROPKEY& kName = DEVPKEY_Device_FriendlyName;
    const DWORD nameBytes = static_cast<DWORD>(sizeof(L"Port A (COM7)"));
    struct Case {
        const char* legend;
        DWORD index;  // of the present ports: 0 port A, 1 the PCI device's port
        const DEVPROPKEY& key;
        DWORD bufferBytes;
        DWORD error;  // 0: read
        std::wstring value;
    };
    const Case cases[] = {
        {"size query", 0, kName, 0, ERROR_INSUFFICIENT_BUFFER, L""},
        {"no room for the terminator", 0, kName, nameBytes - 1, ERROR_INSUFFICIENT_BUFFER, L""},
        {"exactly the room needed", 0, kName, nameBytes, 0, L"Port A (COM7)"},
        {"a device without a friendly name", 1, kName, 256, ERROR_NOT_FOUND, L""},
        {"a property the database does not hold", 0, kBusReportedDescription, 256, ERROR_NOT_FOUND,
         L""},
        {"the instance ID", 1, DEVPKEY_Device_InstanceId, 256, 0,
         L"PCI\\VEN_FEED&DEV_0001\\3&1&0&C8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        SP_DEVINFO_DATA device = Sized<SP_DEVINFO_DATA>();
        Interface(set, kPorts, c.index, &device);
        WCHAR buffer[64] = {};
        DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
        DWORD required = 0;
        const BOOL read = SetupDiGetDevicePropertyW(
            set, &device, &c.key, &type, c.bufferBytes ? reinterpret_cast<PBYTE>(buffer) : nullptr,
            c.bufferBytes, &required, 0);
        EXPECT_EQ(read, c.error == 0);
        EXPECT_EQ(c.error == 0 ? 0 : GetLastError(), c.error);
        EXPECT_EQ(std::wstring(buffer), c.value);
        if (c.error != ERROR_NOT_FOUND) {
            EXPECT_EQ(type, static_cast<DEVPROPTYPE>(DEVPROP_TYPE_STRING));
            EXPECT_EQ(required, c.error == 0 ? (c.value.size() + 1) * sizeof(WCHAR) : nameBytes);
        }
    }
}

TEST_F(SetupApiTest, StructuresOfTheWrongSizeAndBadArgumentsAreRefused) {
    const HDEVINFO set = Set(kPresent);
    SP_DEVINFO_DATA device = Sized<SP_DEVINFO_DATA>();
    SP_DEVICE_INTERFACE_DATA good = Interface(set, kPorts, 0, &device);
    SP_DEVINFO_DATA otherSetsDevice = Sized<SP_DEVINFO_DATA>();
    Interface(Set(kPresent), kPorts, 0, &otherSetsDevice);
    std::uint64_t storage[64] = {};
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(storage);
    WCHAR name[64];
    DEVPROPTYPE type = 0;
    const auto property = [&](SP_DEVINFO_DATA* data, DWORD flags) {
        return SetupDiGetDevicePropertyW(set, data, &DEVPKEY_Device_FriendlyName, &type,
                                         reinterpret_cast<PBYTE>(name), sizeof(name), nullptr,
                                         flags);
    };
    struct Case {
        const char* legend;
        std::function<bool()> call;
        DWORD error;
    };
    const Case cases[] = {
        {"interface data of a 32-bit build (28 bytes)",
         [&] {
             SP_DEVICE_INTERFACE_DATA data = Sized<SP_DEVICE_INTERFACE_DATA>();
             data.cbSize = 28;
             return SetupDiEnumDeviceInterfaces(set, nullptr, &kPorts, 0, &data);
         },
         ERROR_INVALID_USER_BUFFER},
        {"detail cbSize set to the buffer's size, not the fixed part's",
         [&] {
             detail->cbSize = sizeof(storage);
             return SetupDiGetDeviceInterfaceDetailW(set, &good, detail, sizeof(storage), nullptr,
                                                     nullptr);
         },
         ERROR_INVALID_USER_BUFFER},
        {"no detail buffer but a size",
         [&] { return SetupDiGetDeviceInterfaceDetailW(set, &good, nullptr, 8, nullptr, nullptr); },
         ERROR_INVALID_USER_BUFFER},
        {"property flags other than 0", [&] { return property(&device, 1); }, ERROR_INVALID_FLAGS},
        {"device data of another set", [&] { return property(&otherSetsDevice, 0); },
         ERROR_INVALID_PARAMETER},
        {"a set of no class without DIGCF_ALLCLASSES",
         [&] {
             return SetupDiGetClassDevsW(nullptr, nullptr, nullptr, kAll) != INVALID_HANDLE_VALUE;
         },
         ERROR_INVALID_PARAMETER},
        {"a set of devices rather than interfaces, which the stand-in does not make",
         [&] {
             return SetupDiGetClassDevsW(&kPorts, nullptr, nullptr, DIGCF_PRESENT) !=
                    INVALID_HANDLE_VALUE;
         },
         ERROR_INVALID_FLAGS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        SetLastError(0);
        EXPECT_FALSE(c.call());
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(SetupApiTest, OnlyLiveSetsAreAcceptedAndASetIsNoKernelHandle) {
    const size_t before = zntr::platform::CountDeviceInfoSets();
    const HDEVINFO set = SetupDiGetClassDevsW(&kPorts, nullptr, nullptr, kAll);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_EQ(zntr::platform::CountDeviceInfoSets(), before + 1);
    EXPECT_FALSE(CloseHandle(set));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(zntr::platform::CountDeviceInfoSets(), before);
    SP_DEVICE_INTERFACE_DATA data = Sized<SP_DEVICE_INTERFACE_DATA>();
    for (const HDEVINFO stale : {set, INVALID_HANDLE_VALUE, static_cast<HDEVINFO>(nullptr)}) {
        SetLastError(0);
        EXPECT_FALSE(SetupDiDestroyDeviceInfoList(stale));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(SetupDiEnumDeviceInterfaces(stale, nullptr, &kPorts, 0, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST(DeviceDatabaseTest, ADatabaseThatCannotBeReadOrParsedFailsTheSet) {
    struct Case {
        const char* legend;
        std::optional<std::string> text;  // none: no file at all
        DWORD error;                      // 0: the set is made
    };
    const Case cases[] = {
        {"no file", std::nullopt, ERROR_FILE_NOT_FOUND},
        {"not JSON", "devices: none", ERROR_INVALID_DATA},
        {"a misspelt member",
         R"({"devices": [{"instanceId": "A\\1", "friendlyname": "x", "interfaces": []}]})",
         ERROR_INVALID_DATA},
        {"a class that is no braced GUID",
         R"({"devices": [{"instanceId": "A\\1",)"
         R"("interfaces": [{"class": "86E0D1E0", "path": "p"}]}]})",
         ERROR_INVALID_DATA},
        {"comments anywhere, no devices", R"({"comment": "empty", "devices": []})", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        std::optional<DeviceDatabaseFile> file;
        if (c.text) {
            file.emplace(*c.text);
        }
        ScopedDeviceDatabase database(file ? file->path() : "/nonexistent/zntr-devices.json");
        SetLastError(0);
        const HDEVINFO set = SetupDiGetClassDevsW(&kPorts, nullptr, nullptr, kAll);
        EXPECT_EQ(set == INVALID_HANDLE_VALUE ? GetLastError() : 0, c.error);
        if (set != INVALID_HANDLE_VALUE) {
            SP_DEVICE_INTERFACE_DATA data = Sized<SP_DEVICE_INTERFACE_DATA>();
            EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kPorts, 0, &data));
            SetupDiDestroyDeviceInfoList(set);
        }
    }
}

TEST(DeviceDatabaseTest, TheProgramsPathComesFirstThenTheEnvironmentThenTheShippedDatabase) {
    const std::string shipped = zntr::platform::DefaultDeviceDatabasePath();
    EXPECT_TRUE(std::filesystem::is_regular_file(shipped)) << shipped;
    ::unsetenv("ZNTR_DEVICE_DB");
    EXPECT_EQ(zntr::platform::CurrentDeviceDatabasePath(), shipped);
    ::setenv("ZNTR_DEVICE_DB", "/from/environment.json", 1);
    EXPECT_EQ(zntr::platform::CurrentDeviceDatabasePath(), "/from/environment.json");
    {
        ScopedDeviceDatabase program("/from/program.json");
        EXPECT_EQ(zntr::platform::CurrentDeviceDatabasePath(), "/from/program.json");
    }
    EXPECT_EQ(zntr::platform::CurrentDeviceDatabasePath(), "/from/environment.json");
    ::unsetenv("ZNTR_DEVICE_DB");
}

}  // namespace
