// Initialize: the catalogue with its default values, the lower-cased port identifier, the unique
// ID kept with the device, and every failure path, each of which leaves no collection behind.
#include <gtest/gtest.h>

#include <cwctype>

#include "fake_device.h"
#include "sensor_test_support.h"
#include "standin/com_control.h"
#include "temporary_folder.h"

namespace {

using zntr::platform::ComCreationFailure;
using zntr::test::ComPtr;
using zntr::test::Empty;
using zntr::test::FakeDevice;
using zntr::test::FakePropertyStore;
using zntr::test::PropVariant;
using zntr::test::SensorTest;
using zntr::test::UI4;
using zntr::test::Value;

bool NoCollections(const cSensorDDI& sensor) {
    return !sensor.mpSupportedProperties && !sensor.mpSensorProperties &&
           !sensor.mpSupportedDataFields && !sensor.mpSensorDataFields;
}

Value Text(const wchar_t* text) {
    Value value;
    value.vt = VT_LPWSTR;
    value.text = text;
    return value;
}

Value Guid(REFGUID guid) {
    Value value;
    value.vt = VT_CLSID;
    value.guid = guid;
    return value;
}

TEST_F(SensorTest, InitializeRefusesAnEmptyPortIdentifierOrNoDevice) {
    struct Case {
        const char* legend;
        std::wstring portId;
        bool device;
    };
    const Case cases[] = {
        {"empty port identifier", L"", true},
        {"no device", L"ROOT\\ZNTR\\0000", false},
    };
    for (const Case& c : cases) {
        Log();
        EXPECT_EQ(Sensor().Initialize(c.portId, c.device ? device_.Get() : nullptr), E_UNEXPECTED)
            << c.legend;
        EXPECT_EQ(Log(), std::vector<std::string>{"cSensorDDI: Initialize, invalid parameters"})
            << c.legend;
        EXPECT_TRUE(NoCollections(Sensor())) << c.legend;
    }
}

TEST_F(SensorTest, InitializeBuildsTheCatalogueInOrderWithItsDefaults) {
    ASSERT_EQ(Initialize(), S_OK);
    EXPECT_EQ(Log(), (std::vector<std::string>{"Insided InitializeSensorValues",
                                               "SetLBSDefaultPropertyValues, 0\n"}));

    // The property keys, in the catalogue's order, written out from the published keys.
    const PROPERTYKEY properties[] = {SENSOR_PROPERTY_FRIENDLY_NAME,
                                      SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY,
                                      SENSOR_PROPERTY_MANUFACTURER,
                                      SENSOR_PROPERTY_SERIAL_NUMBER,
                                      SENSOR_PROPERTY_MIN_REPORT_INTERVAL,
                                      SENSOR_PROPERTY_MODEL,
                                      SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID,
                                      SENSOR_PROPERTY_STATE,
                                      SENSOR_PROPERTY_TYPE,
                                      WPD_FUNCTIONAL_OBJECT_CATEGORY,
                                      WPD_OBJECT_ID};
    const PROPERTYKEY dataFields[] = {SENSOR_DATA_TYPE_TIMESTAMP,
                                      SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS,
                                      SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS,
                                      SENSOR_DATA_TYPE_ERROR_RADIUS_METERS,
                                      SENSOR_DATA_TYPE_FIX_QUALITY,
                                      SENSOR_DATA_TYPE_FIX_TYPE,
                                      SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION,
                                      SENSOR_DATA_TYPE_LATITUDE_DEGREES,
                                      SENSOR_DATA_TYPE_LONGITUDE_DEGREES,
                                      SENSOR_DATA_TYPE_MAGNETIC_HEADING_DEGREES,
                                      SENSOR_DATA_TYPE_POSITION_DILUTION_OF_PRECISION,
                                      SENSOR_DATA_TYPE_SATELLITES_USED_COUNT,
                                      SENSOR_DATA_TYPE_SATELLITES_USED_PRNS,
                                      SENSOR_DATA_TYPE_SPEED_KNOTS,
                                      SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES,
                                      SENSOR_DATA_TYPE_VERTICAL_DILUTION_OF_PRECISION};
    for (const auto& [keys, expected, count] :
         {std::tuple{Sensor().mpSupportedProperties.Get(), properties, std::size(properties)},
          std::tuple{Sensor().mpSupportedDataFields.Get(), dataFields, std::size(dataFields)}}) {
        DWORD held = 0;
        ASSERT_EQ(keys->GetCount(&held), S_OK);
        ASSERT_EQ(held, count);
        for (DWORD i = 0; i < held; ++i) {
            PROPERTYKEY key;
            keys->GetAt(i, &key);
            EXPECT_TRUE(IsEqualPropertyKey(key, expected[i])) << "key " << i;
        }
    }
    for (const PROPERTYKEY& key : dataFields) {
        EXPECT_EQ(DataField(key), Empty());
    }
    DWORD propertyValues = 0;
    Sensor().mpSensorProperties->GetCount(&propertyValues);
    EXPECT_EQ(propertyValues, 11u);

    EXPECT_EQ(Property(SENSOR_PROPERTY_FRIENDLY_NAME), Text(L"ZNTR VCOM NMEA"));
    EXPECT_EQ(Property(SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY), UI4(0));
    EXPECT_EQ(Property(SENSOR_PROPERTY_MANUFACTURER), Text(L"Zentrova inc"));
    EXPECT_EQ(Property(SENSOR_PROPERTY_SERIAL_NUMBER), Text(L"root\\zntr\\0000"));
    EXPECT_EQ(Property(SENSOR_PROPERTY_MIN_REPORT_INTERVAL), UI4(100));
    EXPECT_EQ(Property(SENSOR_PROPERTY_MODEL), Text(L"88"));
    EXPECT_EQ(Property(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID).vt, VT_CLSID);
    EXPECT_EQ(Property(SENSOR_PROPERTY_STATE), UI4(SENSOR_STATE_NO_DATA));
    EXPECT_EQ(Property(SENSOR_PROPERTY_TYPE), Guid(SENSOR_TYPE_LOCATION_GPS));
    EXPECT_EQ(Property(WPD_FUNCTIONAL_OBJECT_CATEGORY), Guid(SENSOR_CATEGORY_LOCATION));
    EXPECT_EQ(Property(WPD_OBJECT_ID), Text(L"ZntrVComLocation"));
    EXPECT_EQ(Sensor().mSensorState, static_cast<ULONG>(SENSOR_STATE_NO_DATA));
}

TEST_F(SensorTest, ThePortIdentifierIsLowerCasedAsTheCRuntimeDoes) {
    ASSERT_EQ(Initialize(L"USB\\VID_1A2B&PID_00FF\\Serial\u00C4"), S_OK);
    // The C locale lower-cases A to Z only, so the A with diaeresis stays.
    EXPECT_EQ(Sensor().mNMEAPortID, L"usb\\vid_1a2b&pid_00ff\\serial\u00C4");
    EXPECT_EQ(Property(SENSOR_PROPERTY_SERIAL_NUMBER).text, Sensor().mNMEAPortID);
}

TEST_F(SensorTest, TheUniqueIdIsMadeOnceAndFoundAgainAfterARestart) {
    zntr::test::TemporaryFolder state;
    GUID first = GUID_NULL;
    {
        ComPtr<IWDFDevice> device;
        ASSERT_EQ(zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", state.path(),
                                                    device.GetAddressOf()),
                  S_OK);
        ASSERT_EQ(Sensor().Initialize(L"ROOT\\ZNTR\\0000", device.Get()), S_OK);
        first = Property(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID).guid;
        EXPECT_FALSE(IsEqualGUID(first, GUID_NULL));

        // The store holds the braced, upper-case text of the same GUID.
        ComPtr<IWDFNamedPropertyStore> store;
        ASSERT_EQ(device->RetrieveDevicePropertyStore(nullptr, WdfPropertyStoreNormal,
                                                      store.GetAddressOf(), nullptr),
                  S_OK);
        PropVariant text;
        ASSERT_EQ(store->GetNamedValue(L"ZntrVComLocation", &text), S_OK);
        ASSERT_EQ(text.vt, VT_LPWSTR);
        const std::wstring stored = text.pwszVal;
        EXPECT_EQ(stored.size(), 38u);
        EXPECT_EQ(stored.front(), L'{');
        EXPECT_EQ(stored.back(), L'}');
        for (const wchar_t c : stored) {
            EXPECT_FALSE(std::iswlower(static_cast<wint_t>(c))) << "upper-case hexadecimal";
        }
        GUID parsed;
        ASSERT_EQ(CLSIDFromString(stored.c_str(), &parsed), S_OK);
        EXPECT_TRUE(IsEqualGUID(parsed, first));
    }
    // A second sensor, after the host restarted, on the same device.
    gpSensorDDI->Release();
    ASSERT_EQ(cSensorDDI::CreateInstance(&gpSensorDDI), S_OK);
    gpSensorDDI->AddRef();
    ComPtr<IWDFDevice> restarted;
    ASSERT_EQ(zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0000", state.path(),
                                                restarted.GetAddressOf()),
              S_OK);
    ASSERT_EQ(Sensor().Initialize(L"ROOT\\ZNTR\\0000", restarted.Get()), S_OK);
    EXPECT_TRUE(IsEqualGUID(Property(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID).guid, first));

    // Another device gets an ID of its own.
    gpSensorDDI->Release();
    ASSERT_EQ(cSensorDDI::CreateInstance(&gpSensorDDI), S_OK);
    gpSensorDDI->AddRef();
    ComPtr<IWDFDevice> other;
    ASSERT_EQ(
        zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0001", state.path(), other.GetAddressOf()),
        S_OK);
    ASSERT_EQ(Sensor().Initialize(L"ROOT\\ZNTR\\0001", other.Get()), S_OK);
    EXPECT_FALSE(IsEqualGUID(Property(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID).guid, first));
}

TEST_F(SensorTest, ASecondInitializationOfTheValuesIsRefusedAndChangesNothing) {
    ASSERT_EQ(Initialize(), S_OK);
    Sensor().mpSensorProperties->SetStringValue(SENSOR_PROPERTY_MODEL, L"changed");
    Log();
    EXPECT_EQ(Sensor().InitializeSensorValues(), E_UNEXPECTED);
    EXPECT_EQ(Log(), (std::vector<std::string>{"Insided InitializeSensorValues",
                                               "InitializeSensorValues: already initialized"}));
    EXPECT_EQ(Property(SENSOR_PROPERTY_MODEL), Text(L"changed"));
    DWORD keys = 0;
    Sensor().mpSupportedProperties->GetCount(&keys);
    EXPECT_EQ(keys, 11u);
}

TEST_F(SensorTest, AFailedCollectionCreationLeavesNoCollectionBehind) {
    struct Case {
        const char* legend;
        CLSID clsid;
        unsigned successesFirst;
        std::string message;
    };
    // E_OUTOFMEMORY is 0x8007000E, -2147024882 as a signed decimal.
    const Case cases[] = {
        {"supported properties", CLSID_PortableDeviceKeyCollection, 0,
         "InitializeSensorValues: failed to create properties, -2147024882\n"},
        {"property values", CLSID_PortableDeviceValues, 0,
         "InitializeSensorValues: failed to create propert, 0x8007000E"},
        {"supported data fields", CLSID_PortableDeviceKeyCollection, 1,
         "InitializeSensorValues: failed to create data fields, 0x8007000E\n"},
        {"data field values", CLSID_PortableDeviceValues, 1,
         "InitializeSensorValues: failed to create data field values, 0x8007000E\n"},
    };
    for (const Case& c : cases) {
        {
            ComCreationFailure failure(c.clsid, E_OUTOFMEMORY, c.successesFirst);
            EXPECT_EQ(Initialize(), E_OUTOFMEMORY) << c.legend;
            EXPECT_EQ(Log(),
                      (std::vector<std::string>{"Insided InitializeSensorValues", c.message,
                                                "Failed to initialize sensor values, 0x8007000E"}))
                << c.legend;
            EXPECT_TRUE(NoCollections(Sensor())) << c.legend;
            PropVariant value;
            EXPECT_EQ(Sensor().GetPropertyValue(SENSOR_PROPERTY_STATE, &value), E_UNEXPECTED)
                << c.legend;
        }
    }
    // Nothing half-built stays in the way of a later attempt.
    EXPECT_EQ(Initialize(), S_OK);
}

// A key collection whose Add fails after a number of keys, registered in the class table in
// place of the system's.
class RefusingKeyCollection final : public zntr::platform::ComObject<IPortableDeviceKeyCollection> {
  public:
    explicit RefusingKeyCollection(int accepted) : accepted_(accepted) {}
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
        *count = static_cast<DWORD>(added_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD, PROPERTYKEY*) override { return E_INVALIDARG; }
    HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY) override {
        if (added_ >= accepted_) {
            return E_ACCESSDENIED;
        }
        ++added_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clear() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD) override { return S_OK; }

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IPortableDeviceKeyCollection);
    }

  private:
    int accepted_;
    int added_ = 0;
};

class RefusingKeyCollectionFactory final : public zntr::platform::ComObject<IClassFactory> {
  public:
    explicit RefusingKeyCollectionFactory(int accepted) : accepted_(accepted) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        return zntr::platform::CreateComObject<RefusingKeyCollection>(riid, ppv, accepted_);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IClassFactory); }

  private:
    int accepted_;
};

TEST_F(SensorTest, AKeyThatCannotBeAddedFailsTheCatalogueAndReleasesIt) {
    // E_ACCESSDENIED is 0x80070005, -2147024891 as a signed decimal.
    for (const int accepted : {0, 5}) {
        ComPtr<RefusingKeyCollectionFactory> factory;
        factory.Attach(new RefusingKeyCollectionFactory(accepted));
        DWORD cookie = 0;
        ASSERT_EQ(CoRegisterClassObject(CLSID_PortableDeviceKeyCollection, factory.Get(),
                                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        EXPECT_EQ(Initialize(), E_ACCESSDENIED) << accepted << " keys accepted";
        EXPECT_EQ(Log(), (std::vector<std::string>{
                             "Insided InitializeSensorValues",
                             "InitializeLBSValues: failed to add keys, -2147024891\n",
                             "InitializeLBSValues: 0x80070005",
                             "Failed to initialize sensor values, 0x80070005"}))
            << accepted << " keys accepted";
        EXPECT_TRUE(NoCollections(Sensor()));
        EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    }
}

TEST_F(SensorTest, AUniqueIdThatCannotBeSetFailsInitializeAndReleasesTheCollections) {
    struct Case {
        const char* legend;
        HRESULT retrieve;
        HRESULT get;
        VARTYPE storedType;
        const wchar_t* storedText;
        HRESULT set;
        HRESULT expected;
    };
    const Case cases[] = {
        {"the property store cannot be opened", E_ACCESSDENIED, S_OK, VT_LPWSTR, L"", S_OK,
         E_ACCESSDENIED},
        {"the stored text is no GUID", S_OK, S_OK, VT_LPWSTR, L"not a GUID", S_OK,
         CO_E_CLASSSTRING},
        {"the stored value is no text", S_OK, S_OK, VT_UI4, L"", S_OK, CO_E_CLASSSTRING},
        {"a new ID cannot be stored", S_OK, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), VT_LPWSTR,
         L"", HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
    };
    for (const Case& c : cases) {
        ComPtr<FakePropertyStore> store;
        store.Attach(new FakePropertyStore());
        store->getResult = c.get;
        store->storedType = c.storedType;
        store->storedText = c.storedText;
        store->setResult = c.set;
        ComPtr<FakeDevice> device;
        device.Attach(new FakeDevice(store.Get()));
        device->retrieveResult = c.retrieve;

        Log();
        EXPECT_EQ(Sensor().Initialize(L"ROOT\\ZNTR\\0000", device.Get()), c.expected) << c.legend;
        char message[64];
        std::snprintf(message, sizeof(message), "Failed to set unique ID, 0x%08X",
                      static_cast<unsigned>(c.expected));
        const std::vector<std::string> log = Log();
        EXPECT_EQ(log.back(), message) << c.legend;
        EXPECT_TRUE(NoCollections(Sensor())) << c.legend;
        EXPECT_FALSE(device->askedForService) << c.legend;
        EXPECT_EQ(device->askedFlags, WdfPropertyStoreCreateIfMissing) << c.legend;
        EXPECT_EQ(zntr::test::ReferenceCountOf(store.Get()), 1u) << c.legend << ": store released";
    }
}

TEST_F(SensorTest, AMissingUniqueIdIsStoredUnderTheSensorsIdentifier) {
    ComPtr<FakePropertyStore> store;
    store.Attach(new FakePropertyStore());
    ComPtr<FakeDevice> device;
    device.Attach(new FakeDevice(store.Get()));
    ASSERT_EQ(Sensor().Initialize(L"ROOT\\ZNTR\\0000", device.Get()), S_OK);
    EXPECT_EQ(store->sets, 1);
    EXPECT_EQ(store->setName, L"ZntrVComLocation");
    GUID stored;
    ASSERT_EQ(CLSIDFromString(store->setText.c_str(), &stored), S_OK);
    EXPECT_TRUE(IsEqualGUID(stored, Property(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID).guid));

    // An ID already stored is read back, not replaced.
    store->getResult = S_OK;
    store->storedText = L"{0c15d503-d017-47ce-9016-7b3f978721cc}";
    gpSensorDDI->Release();
    ASSERT_EQ(cSensorDDI::CreateInstance(&gpSensorDDI), S_OK);
    gpSensorDDI->AddRef();
    ASSERT_EQ(Sensor().Initialize(L"ROOT\\ZNTR\\0000", device.Get()), S_OK);
    EXPECT_EQ(store->sets, 1);
    EXPECT_TRUE(IsEqualGUID(Property(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID).guid,
                            CLSID_PortableDeviceValues));
}

}  // namespace
