// The framework's per-device property store: named values that survive a restart of the host,
// stores opened or created by the retrieve flags, and a state file that a crash cannot leave
// half-written.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <string>

#include "framework_device.h"
#include "standin/com_helpers.h"
#include "standin/wrl_client.h"
#include "temporary_folder.h"

namespace {

using Microsoft::WRL::ComPtr;
using zntr::host::CreateFrameworkDevice;
using zntr::platform::PropVariant;
using zntr::platform::TaskMemory;
using zntr::test::TemporaryFolder;

constexpr wchar_t kDevice[] = L"ROOT\\ZNTR\\0000";
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

ComPtr<IWDFDevice> OpenDevice(const std::filesystem::path& folder,
                              const wchar_t* instanceId = kDevice) {
    ComPtr<IWDFDevice> device;
    EXPECT_EQ(CreateFrameworkDevice(instanceId, folder, device.GetAddressOf()), S_OK);
    return device;
}

ComPtr<IWDFNamedPropertyStore> OpenStore(IWDFDevice* device, const wchar_t* service = nullptr) {
    ComPtr<IWDFNamedPropertyStore> store;
    EXPECT_EQ(device->RetrieveDevicePropertyStore(service, WdfPropertyStoreCreateIfMissing,
                                                  store.GetAddressOf(), nullptr),
              S_OK);
    return store;
}

HRESULT SetText(IWDFNamedPropertyStore* store, const wchar_t* name, const wchar_t* text) {
    PropVariant value;
    value.vt = VT_LPWSTR;
    value.pwszVal = const_cast<LPWSTR>(text);
    const HRESULT hr = store->SetNamedValue(name, &value);
    value.vt = VT_EMPTY;  // the text is not the holder's to free
    return hr;
}

std::wstring GetText(IWDFNamedPropertyStore* store, const wchar_t* name) {
    PropVariant value;
    if (FAILED(store->GetNamedValue(name, &value)) || value.vt != VT_LPWSTR) {
        return L"<none>";
    }
    return value.pwszVal;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(DeviceStateTest, ANamedValueSurvivesARestartOfTheHost) {
    TemporaryFolder folder;
    {
        ComPtr<IWDFDevice> device = OpenDevice(folder.path());
        ASSERT_EQ(SetText(OpenStore(device.Get()).Get(), L"ZntrVComLocation",
                          L"{0C15D503-D017-47CE-9016-7B3F978721CC}"),
                  S_OK);
    }
    ComPtr<IWDFDevice> restarted = OpenDevice(folder.path());
    EXPECT_EQ(GetText(OpenStore(restarted.Get()).Get(), L"ZntrVComLocation"),
              L"{0C15D503-D017-47CE-9016-7B3F978721CC}");

    const std::filesystem::path file = folder.path() / "ROOT%5CZNTR%5C0000.json";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));
    const nlohmann::json document = nlohmann::json::parse(ReadFile(file));
    EXPECT_EQ(document["format"], "zntr-device-state");
    EXPECT_EQ(document["device"], "ROOT\\ZNTR\\0000");
    EXPECT_EQ(document["stores"][""]["ZntrVComLocation"]["type"], "VT_LPWSTR");
}

TEST(DeviceStateTest, TheRetrieveFlagsOpenOrCreateStores) {
    TemporaryFolder folder;
    struct Case {
        const char* legend;
        const wchar_t* service;
        WDF_PROPERTY_STORE_RETRIEVE_FLAGS flags;
        HRESULT expected;
        WDF_PROPERTY_STORE_DISPOSITION disposition;
    };
    const Case cases[] = {
        {"the device's own store always exists", nullptr, WdfPropertyStoreNormal, S_OK,
         OpenedExistingStore},
        {"a service's store is not made without a flag", L"Svc", WdfPropertyStoreNormal, kNotFound,
         CreatedNewStore},
        {"made when missing", L"Svc", WdfPropertyStoreCreateIfMissing, S_OK, CreatedNewStore},
        {"then opened, its name compared without case", L"SVC", WdfPropertyStoreNormal, S_OK,
         OpenedExistingStore},
        {"a volatile store", L"Volatile", WdfPropertyStoreCreateVolatile, S_OK, CreatedNewStore},
    };
    {
        ComPtr<IWDFDevice> device = OpenDevice(folder.path());
        for (const Case& c : cases) {
            ComPtr<IWDFNamedPropertyStore> store;
            WDF_PROPERTY_STORE_DISPOSITION disposition = CreatedNewStore;
            EXPECT_EQ(device->RetrieveDevicePropertyStore(c.service, c.flags, store.GetAddressOf(),
                                                          &disposition),
                      c.expected)
                << c.legend;
            EXPECT_EQ(store.Get() != nullptr, SUCCEEDED(c.expected)) << c.legend;
            if (SUCCEEDED(c.expected)) {
                EXPECT_EQ(disposition, c.disposition) << c.legend;
            }
        }
        EXPECT_EQ(SetText(OpenStore(device.Get(), L"Volatile").Get(), L"Name", L"gone"), S_OK);
    }
    // After a restart the persistent service store is still there; the volatile one is not.
    ComPtr<IWDFDevice> restarted = OpenDevice(folder.path());
    ComPtr<IWDFNamedPropertyStore> store;
    EXPECT_EQ(restarted->RetrieveDevicePropertyStore(L"Svc", WdfPropertyStoreNormal,
                                                     store.GetAddressOf(), nullptr),
              S_OK);
    EXPECT_EQ(restarted->RetrieveDevicePropertyStore(L"Volatile", WdfPropertyStoreNormal,
                                                     store.ReleaseAndGetAddressOf(), nullptr),
              kNotFound);
}

TEST(DeviceStateTest, StoresTextAndNumbersUnderNamesComparedWithoutCase) {
    TemporaryFolder folder;
    ComPtr<IWDFNamedPropertyStore> store = OpenStore(OpenDevice(folder.path()).Get());
    PropVariant read;
    EXPECT_EQ(store->GetNamedValue(L"Missing", &read), kNotFound);

    ASSERT_EQ(SetText(store.Get(), L"Beta", L"first"), S_OK);
    ASSERT_EQ(SetText(store.Get(), L"BETA", L"second"), S_OK);
    PropVariant number;
    number.vt = VT_UI4;
    number.ulVal = 4000000000u;
    ASSERT_EQ(store->SetNamedValue(L"alpha", &number), S_OK);
    PropVariant unsupported;
    unsupported.vt = VT_R8;
    EXPECT_EQ(store->SetNamedValue(L"gamma", &unsupported), E_INVALIDARG);

    EXPECT_EQ(GetText(store.Get(), L"beta"), L"second");
    ASSERT_EQ(store->GetNamedValue(L"ALPHA", &read), S_OK);
    EXPECT_EQ(read.vt, VT_UI4);
    EXPECT_EQ(read.ulVal, 4000000000u);

    DWORD count = 0;
    ASSERT_EQ(store->GetNameCount(&count), S_OK);
    ASSERT_EQ(count, 2u);
    TaskMemory<WCHAR> name;
    ASSERT_EQ(store->GetNameAt(0, name.put()), S_OK);
    EXPECT_EQ(std::wstring(name.get()), L"alpha");
    ASSERT_EQ(store->GetNameAt(1, name.put()), S_OK);
    EXPECT_EQ(std::wstring(name.get()), L"Beta") << "a name keeps its first spelling";
    EXPECT_EQ(store->GetNameAt(2, name.put()), HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(store->GetNamedValue(nullptr, &read), E_INVALIDARG);
    EXPECT_EQ(store->SetNamedValue(L"x", nullptr), E_POINTER);
}

TEST(DeviceStateTest, EachDeviceHasItsOwnFileAndInstanceIdsCompareWithoutCase) {
    TemporaryFolder folder;
    SetText(OpenStore(OpenDevice(folder.path(), L"ROOT\\ZNTR\\0000").Get()).Get(), L"Id", L"a");
    SetText(OpenStore(OpenDevice(folder.path(), L"ROOT\\ZNTR\\0001").Get()).Get(), L"Id", L"b");
    EXPECT_EQ(GetText(OpenStore(OpenDevice(folder.path(), L"root\\zntr\\0000").Get()).Get(), L"Id"),
              L"a");
    EXPECT_EQ(GetText(OpenStore(OpenDevice(folder.path(), L"ROOT\\ZNTR\\0001").Get()).Get(), L"Id"),
              L"b");
}

TEST(DeviceStateTest, AnInterruptedWriteLeavesThePreviousStateWhole) {
    TemporaryFolder folder;
    SetText(OpenStore(OpenDevice(folder.path()).Get()).Get(), L"Id", L"kept");
    // A host that died while writing leaves a partial temporary file beside the real one.
    const std::filesystem::path file = folder.path() / "ROOT%5CZNTR%5C0000.json";
    std::ofstream(file.string() + ".tmp") << "{\"format\":\"zntr-dev";
    ComPtr<IWDFNamedPropertyStore> store = OpenStore(OpenDevice(folder.path()).Get());
    EXPECT_EQ(GetText(store.Get(), L"Id"), L"kept");
    EXPECT_EQ(SetText(store.Get(), L"Other", L"new"), S_OK);
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));
}

TEST(DeviceStateTest, AFileThatCannotBeUnderstoodRefusesTheDevice) {
    TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "ROOT%5CZNTR%5C0000.json";
    const char* const contents[] = {
        "not json",
        R"({"format":"something else","version":1,"stores":{}})",
        R"({"format":"zntr-device-state","version":2,"stores":{}})",
        R"({"format":"zntr-device-state","version":1,"stores":{"":{"x":{"type":"VT_R8","value":1}}}})",
    };
    for (const char* content : contents) {
        std::ofstream(file, std::ios::trunc) << content;
        ComPtr<IWDFDevice> device;
        EXPECT_EQ(CreateFrameworkDevice(kDevice, folder.path(), device.GetAddressOf()),
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA))
            << content;
        EXPECT_EQ(device.Get(), nullptr);
    }
}

TEST(DeviceStateTest, AValueThatCannotBeWrittenIsNotKept) {
    TemporaryFolder folder;
    // The state folder lies under a plain file, so it can never be made.
    std::ofstream(folder.path() / "plain") << "x";
    ComPtr<IWDFDevice> device = OpenDevice(folder.path() / "plain" / "state");
    ComPtr<IWDFNamedPropertyStore> store = OpenStore(device.Get());
    ASSERT_TRUE(store);
    EXPECT_EQ(SetText(store.Get(), L"Id", L"lost"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetText(store.Get(), L"Id"), L"<none>");
}

TEST(DeviceStateTest, WithoutAStateFolderValuesLiveInMemoryOnly) {
    ComPtr<IWDFDevice> device = OpenDevice({});
    ComPtr<IWDFNamedPropertyStore> first = OpenStore(device.Get());
    ASSERT_EQ(SetText(first.Get(), L"Id", L"in memory"), S_OK);
    EXPECT_EQ(GetText(OpenStore(device.Get()).Get(), L"Id"), L"in memory")
        << "stores of one device share its values";
    EXPECT_EQ(GetText(OpenStore(OpenDevice({}).Get()).Get(), L"Id"), L"<none>")
        << "another device starts empty";
}

}  // namespace
