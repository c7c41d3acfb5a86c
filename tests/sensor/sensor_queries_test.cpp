// The sensor's query and set callbacks: what each answers per key, its status and its log.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "default_device.h"
#include "sensor_test_support.h"
#include "standin/com_control.h"
#include "standin/device_database_control.h"

namespace {

using zntr::platform::ComCreationFailure;
using zntr::platform::ScopedDeviceDatabase;
using zntr::test::ComPtr;
using zntr::test::PropVariant;
using Lines = std::vector<std::string>;

// A key of the sensor's property set that the sensor does not have (the description).
constexpr PROPERTYKEY kNotAProperty = {SENSOR_PROPERTY_COMMON_GUID, 10};
constexpr PROPERTYKEY kPidZero = {SENSOR_PROPERTY_COMMON_GUID, 0};
constexpr PROPERTYKEY kNullFormat = {GUID_NULL, 3};

template <typename Interface>
ComPtr<Interface> Create(REFCLSID clsid, REFIID iid) {
    ComPtr<Interface> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                               reinterpret_cast<void**>(object.GetAddressOf())),
              S_OK);
    return object;
}

ComPtr<IPortableDeviceKeyCollection> Keys(std::initializer_list<PROPERTYKEY> keys) {
    auto collection = Create<IPortableDeviceKeyCollection>(CLSID_PortableDeviceKeyCollection,
                                                           IID_IPortableDeviceKeyCollection);
    for (const PROPERTYKEY& key : keys) {
        collection->Add(key);
    }
    return collection;
}

// A key by its catalogue name, or by its property id when the catalogue does not have it.
std::string NameOf(const PROPERTYKEY& key) {
    for (const cCatalogueEntry& entry : kSensorPropertyCatalogue) {
        if (IsEqualPropertyKey(entry.mKey, key)) {
            return entry.mName;
        }
    }
    for (const cCatalogueEntry& entry : kSensorDataFieldCatalogue) {
        if (IsEqualPropertyKey(entry.mKey, key)) {
            return entry.mName;
        }
    }
    return "pid " + std::to_string(key.pid);
}

template <typename Collection>
Lines NamesOf(const Collection& keys) {
    Lines names;
    for (const auto& key : keys) {
        names.push_back(NameOf(key));
    }
    return names;
}
std::vector<PROPERTYKEY> KeysOf(IPortableDeviceKeyCollection* collection) {
    DWORD count = 0;
    EXPECT_EQ(collection->GetCount(&count), S_OK);
    std::vector<PROPERTYKEY> keys(count);
    for (DWORD i = 0; i < count; ++i) {
        collection->GetAt(i, &keys[i]);
    }
    return keys;
}
std::vector<PROPERTYKEY> KeysOf(const cCatalogueEntry* begin, const cCatalogueEntry* end) {
    std::vector<PROPERTYKEY> keys;
    for (; begin != end; ++begin) {
        keys.push_back(begin->mKey);
    }
    return keys;
}

std::string Narrow(const wchar_t* text) {
    const std::wstring wide = text != nullptr ? text : L"";
    return std::string(wide.begin(), wide.end());
}

// "KEY: TYPE value", the form in which the tests state answers.
std::string Describe(const PROPERTYKEY& key, const PROPVARIANT& value) {
    char text[64];
    switch (value.vt) {
        case VT_EMPTY:
            return NameOf(key) + ": empty";
        case VT_UI4:
            std::snprintf(text, sizeof(text), "UI4 %u", value.ulVal);
            break;
        case VT_R8:
            std::snprintf(text, sizeof(text), "R8 %g", value.dblVal);
            break;
        case VT_ERROR:
            std::snprintf(text, sizeof(text), "ERROR 0x%08X", static_cast<unsigned>(value.scode));
            break;
        case VT_LPWSTR:
            return NameOf(key) + ": text " + Narrow(value.pwszVal);
        default:
            std::snprintf(text, sizeof(text), "vt %u", value.vt);
    }
    return NameOf(key) + ": " + text;
}

Lines AnswersOf(IPortableDeviceValues* values) {
    DWORD count = 0;
    EXPECT_EQ(values->GetCount(&count), S_OK);
    Lines answers;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        PropVariant value;
        values->GetAt(i, &key, &value);
        answers.push_back(Describe(key, value));
    }
    return answers;
}

// The sensor on the shipped device database, where its instance ID has no device: the lookups
// find nothing and are retried at each enumeration of the properties.
class SensorQueriesTest : public zntr::test::SensorTest {
  protected:
    // Initialize, with what it logged dropped.
    HRESULT Ready(const std::wstring& portId = L"ROOT\\ZNTR\\0000") {
        const HRESULT hr = Initialize(portId);
        Log();
        return hr;
    }
    // The entry of the one sensor object, described.
    Lines SensorObject(HRESULT* status) {
        ComPtr<IPortableDeviceValuesCollection> objects;
        *status = Sensor().OnGetSupportedSensorObjects(objects.GetAddressOf());
        DWORD count = 0;
        ComPtr<IPortableDeviceValues> entry;
        if (!objects || FAILED(objects->GetCount(&count)) || count != 1 ||
            FAILED(objects->GetAt(0, entry.GetAddressOf()))) {
            ADD_FAILURE() << "not one sensor object but " << count;
            return {};
        }
        return AnswersOf(entry.Get());
    }

    ScopedDeviceDatabase database_{zntr::platform::DefaultDeviceDatabasePath()};
};

TEST_F(SensorQueriesTest, TheSupportedKeysComeInCatalogueOrderInANewCollectionEachCall) {
    ASSERT_EQ(Ready(), S_OK);
    const Lines propertyNames =
        NamesOf(KeysOf(std::begin(kSensorPropertyCatalogue), std::end(kSensorPropertyCatalogue)));
    const Lines dataFieldNames =
        NamesOf(KeysOf(std::begin(kSensorDataFieldCatalogue), std::end(kSensorDataFieldCatalogue)));
    ComPtr<IPortableDeviceKeyCollection> properties;
    ASSERT_EQ(Sensor().OnGetSupportedProperties(nullptr, properties.GetAddressOf()), S_OK);
    EXPECT_EQ(NamesOf(KeysOf(properties.Get())), propertyNames);
    EXPECT_EQ(Log(), (Lines{"GetDeviceName: ", "GetNetworkDevicePath: ",
                            "SetNetworkDevicePath: failed to get Net device path",
                            "GetSupportedProperties: failed to set Net Device path, retry",
                            "OnGetSupportedProperties: copy property keys, 0x00000000"}));
    ComPtr<IPortableDeviceKeyCollection> dataFields;
    ASSERT_EQ(Sensor().OnGetSupportedDataFields(nullptr, dataFields.GetAddressOf()), S_OK);
    EXPECT_EQ(NamesOf(KeysOf(dataFields.Get())), dataFieldNames);
    EXPECT_EQ(Log(), (Lines{"OnGetSupportedDataFields: copy property keys, 0\n"}));

    // What the caller got is its own: changing it changes nothing of the sensor's.
    properties->Clear();
    dataFields->Clear();
    ASSERT_EQ(Sensor().OnGetSupportedProperties(nullptr, properties.ReleaseAndGetAddressOf()),
              S_OK);
    ASSERT_EQ(Sensor().OnGetSupportedDataFields(nullptr, dataFields.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_EQ(NamesOf(KeysOf(properties.Get())), propertyNames);
    EXPECT_EQ(NamesOf(KeysOf(dataFields.Get())), dataFieldNames);
}

TEST_F(SensorQueriesTest, TheEventsAreDataUpdatedThenStateChanged) {
    GUID* events = nullptr;
    ULONG count = 0;
    ASSERT_EQ(Sensor().OnGetSupportedEvents(nullptr, &events, &count), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_TRUE(IsEqualGUID(events[0], SENSOR_EVENT_DATA_UPDATED));
    EXPECT_TRUE(IsEqualGUID(events[1], SENSOR_EVENT_STATE_CHANGED));
    CoTaskMemFree(events);
    EXPECT_EQ(Log(), (Lines{"OnGetSupportedEvents: 0"}));
}

TEST_F(SensorQueriesTest, PropertiesAndDataFieldsAreAnsweredKeyByKey) {
    ASSERT_EQ(Ready(), S_OK);
    enum Call { kProperties, kDataFields };
    struct Case {
        const char* legend;
        Call call;
        std::initializer_list<PROPERTYKEY> keys;
        HRESULT status;
        Lines answers;
        Lines log;
    };
    const std::string fields = "cSensorDDI::OnGetDataFields\n";
    const std::string badField = "OnGetDataFields: invalid data field 0\n";
    const Case cases[] = {
        {"the state after Initialize",
         kProperties,
         {SENSOR_PROPERTY_STATE},
         S_OK,
         {"SENSOR_PROPERTY_STATE: UI4 2"},
         {}},
        {"a failed key among good ones",
         kProperties,
         {WPD_OBJECT_ID, kNotAProperty, SENSOR_PROPERTY_FRIENDLY_NAME},
         S_FALSE,
         {"WPD_OBJECT_ID: text ZntrVComLocation", "pid 10: ERROR 0x80070490",
          "SENSOR_PROPERTY_FRIENDLY_NAME: text ZNTR VCOM NMEA"},
         {"OnGetProperties: failed to get property 0\n"}},
        {"property id 0 and a null format are skipped",
         kProperties,
         {kPidZero, kNullFormat},
         S_OK,
         {},
         {}},
        {"a key asked twice is answered once",
         kProperties,
         {SENSOR_PROPERTY_STATE, SENSOR_PROPERTY_STATE},
         S_OK,
         {"SENSOR_PROPERTY_STATE: UI4 2"},
         {}},
        {"no keys", kProperties, {}, S_OK, {}, {}},
        {"latitude before any position: empty, no error",
         kDataFields,
         {SENSOR_DATA_TYPE_LATITUDE_DEGREES},
         S_OK,
         {"SENSOR_DATA_TYPE_LATITUDE_DEGREES: empty"},
         {fields}},
        {"a property is no data field",
         kDataFields,
         {SENSOR_PROPERTY_STATE},
         S_FALSE,
         {"SENSOR_PROPERTY_STATE: ERROR 0x80070490"},
         {fields, badField}},
        {"property id 0 and a null format are looked up, not skipped",
         kDataFields,
         {kPidZero, kNullFormat},
         S_FALSE,
         {"pid 0: ERROR 0x80070490", "pid 3: ERROR 0x80070490"},
         {fields, badField, badField}},
        {"no keys", kDataFields, {}, S_OK, {}, {fields}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        auto keys = Keys(c.keys);
        ComPtr<IPortableDeviceValues> values;
        EXPECT_EQ(c.call == kProperties ? Sensor().OnGetProperties(nullptr, nullptr, keys.Get(),
                                                                   values.ReleaseAndGetAddressOf())
                                        : Sensor().OnGetDataFields(nullptr, nullptr, keys.Get(),
                                                                   values.ReleaseAndGetAddressOf()),
                  c.status);
        ASSERT_TRUE(values);
        EXPECT_EQ(AnswersOf(values.Get()), c.answers);
        EXPECT_EQ(Log(), c.log);
    }
    // A written field is answered with its value.
    Feed(zntr::test::Pqxfi("4830.000", "01115.000"));
    auto latitude = Keys({SENSOR_DATA_TYPE_LATITUDE_DEGREES});
    ComPtr<IPortableDeviceValues> values;
    EXPECT_EQ(
        Sensor().OnGetDataFields(nullptr, nullptr, latitude.Get(), values.ReleaseAndGetAddressOf()),
        S_OK);
    EXPECT_EQ(AnswersOf(values.Get()), (Lines{"SENSOR_DATA_TYPE_LATITUDE_DEGREES: R8 48.5"}));
}

TEST_F(SensorQueriesTest, WithoutCollectionsTheCallsFailOrEveryKeyFails) {
    ComPtr<IPortableDeviceKeyCollection> keys;
    EXPECT_EQ(Sensor().OnGetSupportedProperties(nullptr, keys.ReleaseAndGetAddressOf()),
              E_UNEXPECTED);
    EXPECT_EQ(Sensor().OnGetSupportedDataFields(nullptr, keys.ReleaseAndGetAddressOf()),
              E_UNEXPECTED);
    ComPtr<IPortableDeviceValuesCollection> objects;
    EXPECT_EQ(Sensor().OnGetSupportedSensorObjects(objects.ReleaseAndGetAddressOf()), E_UNEXPECTED);
    EXPECT_FALSE(keys || objects);
    EXPECT_EQ(Log(),
              (Lines{"OnGetSupportedProperties: failed to get supported properties, 0x8000FFFF",
                     "OnGetSupportedDataFields: failed to get supported data fields, -2147418113\n",
                     "OnGetSupportedProperties: failed to get supported properties, 0x8000FFFF",
                     "OnGetSupportedSensorObjects: failed to get supported properties, "
                     "0x8000FFFF"}));

    auto state = Keys({SENSOR_PROPERTY_STATE});
    ComPtr<IPortableDeviceValues> properties;
    ComPtr<IPortableDeviceValues> dataFields;
    EXPECT_EQ(Sensor().OnGetProperties(nullptr, nullptr, state.Get(),
                                       properties.ReleaseAndGetAddressOf()),
              S_FALSE);
    EXPECT_EQ(Sensor().OnGetDataFields(nullptr, nullptr, state.Get(),
                                       dataFields.ReleaseAndGetAddressOf()),
              S_FALSE);
    EXPECT_EQ(AnswersOf(properties.Get()), (Lines{"SENSOR_PROPERTY_STATE: ERROR 0x8000FFFF"}));
    EXPECT_EQ(AnswersOf(dataFields.Get()), (Lines{"SENSOR_PROPERTY_STATE: ERROR 0x8000FFFF"}));
}

TEST_F(SensorQueriesTest, SetPropertiesRefusesEveryValueAndChangesNothing) {
    ASSERT_EQ(Ready(), S_OK);
    auto request =
        Create<IPortableDeviceValues>(CLSID_PortableDeviceValues, IID_IPortableDeviceValues);
    request->SetStringValue(SENSOR_PROPERTY_FRIENDLY_NAME, L"Renamed");
    request->SetUnsignedIntegerValue(SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY, 1);
    request->SetUnsignedIntegerValue(kNotAProperty, 5);
    ComPtr<IPortableDeviceValues> results;
    EXPECT_EQ(
        Sensor().OnSetProperties(nullptr, nullptr, request.Get(), results.ReleaseAndGetAddressOf()),
        S_FALSE);
    EXPECT_EQ(AnswersOf(results.Get()),
              (Lines{"SENSOR_PROPERTY_FRIENDLY_NAME: ERROR 0x80070490",
                     "SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY: ERROR 0x80070490",
                     "pid 10: ERROR 0x80070490"}));
    EXPECT_EQ(Property(SENSOR_PROPERTY_FRIENDLY_NAME).text, L"ZNTR VCOM NMEA");
    EXPECT_EQ(Property(SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY), zntr::test::UI4(0));
    EXPECT_FALSE(Property(kNotAProperty).held);
    request->Clear();
    EXPECT_EQ(
        Sensor().OnSetProperties(nullptr, nullptr, request.Get(), results.ReleaseAndGetAddressOf()),
        S_OK);
    EXPECT_TRUE(AnswersOf(results.Get()).empty());
    EXPECT_EQ(Log(), (Lines{"OnSetProperties: we do not support settable properties, 1\n",
                            "OnSetProperties: we do not support settable properties, 0\n"}));
}

TEST_F(SensorQueriesTest, MissingArgumentsAreInvalid) {
    ASSERT_EQ(Ready(), S_OK);
    auto keys = Keys({SENSOR_PROPERTY_STATE});
    auto request =
        Create<IPortableDeviceValues>(CLSID_PortableDeviceValues, IID_IPortableDeviceValues);
    IPortableDeviceValues* out = nullptr;
    cSensorDDI& s = Sensor();
    const std::string fields = "cSensorDDI::OnGetDataFields\n";
    struct Case {
        const char* legend;
        std::function<HRESULT()> call;
        Lines log;
    };
    const Case cases[] = {
        {"properties without keys",
         [&] { return s.OnGetProperties(nullptr, nullptr, nullptr, &out); },
         {"OnGetProperties: invalid parameters"}},
        {"properties without an out pointer",
         [&] { return s.OnGetProperties(nullptr, nullptr, keys.Get(), nullptr); },
         {"OnGetProperties: invalid parameters"}},
        {"data fields without keys",
         [&] { return s.OnGetDataFields(nullptr, nullptr, nullptr, &out); },
         {fields, "OnGetDataFields: invalid parameters"}},
        {"data fields without an out pointer",
         [&] { return s.OnGetDataFields(nullptr, nullptr, keys.Get(), nullptr); },
         {fields, "OnGetDataFields: invalid parameters"}},
        {"setting without values",
         [&] { return s.OnSetProperties(nullptr, nullptr, nullptr, &out); },
         {}},
        {"setting without an out pointer",
         [&] { return s.OnSetProperties(nullptr, nullptr, request.Get(), nullptr); },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(c.call(), E_INVALIDARG);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(Log(), c.log);
    }
}

TEST_F(SensorQueriesTest, TheSensorObjectCarriesEveryPropertyWithItsValue) {
    ASSERT_EQ(Ready(), S_OK);
    Lines expected;
    for (const cCatalogueEntry& entry : kSensorPropertyCatalogue) {
        PropVariant value;
        ASSERT_EQ(Sensor().GetPropertyValue(entry.mKey, &value), S_OK);
        expected.push_back(Describe(entry.mKey, value));
    }
    HRESULT status = E_FAIL;
    EXPECT_EQ(SensorObject(&status), expected);
    EXPECT_EQ(status, S_OK);
    EXPECT_EQ(expected[0], "SENSOR_PROPERTY_FRIENDLY_NAME: text ZNTR VCOM NMEA");
    EXPECT_EQ(Log().back(), "OnGetSupportedSensorObjects: 0x00000000");
}

TEST_F(SensorQueriesTest, TheLookupsAreRetriedUntilTheDeviceIsFoundAndThenKept) {
    ASSERT_EQ(Ready(zntr::host::kDefaultDeviceInstanceId), S_OK);
    const std::string retry = "GetSupportedProperties: failed to set Net Device path, retry";
    HRESULT status = E_FAIL;
    {
        ScopedDeviceDatabase none("/nonexistent/zntr-devices.json");
        EXPECT_EQ(SensorObject(&status)[0], "SENSOR_PROPERTY_FRIENDLY_NAME: text ZNTR VCOM NMEA");
        EXPECT_TRUE(Logged(Log(), retry));
    }
    // The shipped database has the device: the next enumeration finds the name and the path.
    EXPECT_EQ(SensorObject(&status)[0],
              "SENSOR_PROPERTY_FRIENDLY_NAME: text ZNTR GPS Serial Port (COM7)");
    EXPECT_FALSE(Logged(Log(), retry));
    EXPECT_FALSE(Sensor().mNetDevicePath.empty());
    // Found once, looked up no more.
    SensorObject(&status);
    for (const std::string& line : Log()) {
        EXPECT_NE(line.rfind("Get", 0), 0u) << "a lookup ran again: " << line;
    }
}

TEST_F(SensorQueriesTest, AFailedCreationFailsTheCallWithItsLogAndHandsOutNothing) {
    ASSERT_EQ(Ready(), S_OK);
    auto keys = Keys({SENSOR_PROPERTY_STATE});
    auto request =
        Create<IPortableDeviceValues>(CLSID_PortableDeviceValues, IID_IPortableDeviceValues);
    request->SetUnsignedIntegerValue(SENSOR_PROPERTY_STATE, 0);
    cSensorDDI& s = Sensor();
    struct Case {
        const char* legend;
        const CLSID& failing;
        std::function<HRESULT(void*)> call;  // given the out pointer
        Lines log;                           // the lines that end the log
    };
    using ValuesOut = IPortableDeviceValues**;
    using KeysOut = IPortableDeviceKeyCollection**;
    using ObjectsOut = IPortableDeviceValuesCollection**;
    const Case cases[] = {
        {"sensor objects: the collection",
         CLSID_PortableDeviceValuesCollection,
         [&](void* out) { return s.OnGetSupportedSensorObjects(static_cast<ObjectsOut>(out)); },
         {"OnGetSupportedSensorObjects: failed to create device collection, 0x8007000E"}},
        {"sensor objects: the key collection",
         CLSID_PortableDeviceKeyCollection,
         [&](void* out) { return s.OnGetSupportedSensorObjects(static_cast<ObjectsOut>(out)); },
         {"OnGetSupportedProperties: failed to create property collection, 0x8007000E",
          "OnGetSupportedSensorObjects: failed to get supported properties, 0x8007000E"}},
        {"supported data fields",
         CLSID_PortableDeviceKeyCollection,
         [&](void* out) { return s.OnGetSupportedDataFields(nullptr, static_cast<KeysOut>(out)); },
         {"OnGetSupportedDataFields: failed to create property collection, -2147024882\n"}},
        {"properties",
         CLSID_PortableDeviceValues,
         [&](void* out) {
             return s.OnGetProperties(nullptr, nullptr, keys.Get(), static_cast<ValuesOut>(out));
         },
         {"OnGetProperties: failed to create property collection -2147024882\n"}},
        {"setting logs nothing",
         CLSID_PortableDeviceValues,
         [&](void* out) {
             return s.OnSetProperties(nullptr, nullptr, request.Get(), static_cast<ValuesOut>(out));
         },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        void* out = &s;  // anything but null
        {
            ComCreationFailure failure(c.failing, E_OUTOFMEMORY);
            EXPECT_EQ(c.call(&out), E_OUTOFMEMORY);
        }
        EXPECT_EQ(out, nullptr);
        const Lines log = Log();
        ASSERT_GE(log.size(), c.log.size());
        EXPECT_EQ(Lines(log.end() - static_cast<long>(c.log.size()), log.end()), c.log);
        EXPECT_EQ(log.empty(), c.log.empty());
    }
}

TEST_F(SensorQueriesTest, CopyKeysAppendsEveryKeyInOrderAndRefusesNull) {
    auto target = Keys({SENSOR_PROPERTY_STATE});
    EXPECT_EQ(Sensor().CopyKeys(nullptr, target.Get()), E_POINTER);
    EXPECT_EQ(Sensor().CopyKeys(target.Get(), nullptr), E_POINTER);
    EXPECT_EQ(Sensor().CopyKeys(Keys({}).Get(), target.Get()), S_OK);
    EXPECT_EQ(Sensor().CopyKeys(Keys({WPD_OBJECT_ID, SENSOR_PROPERTY_TYPE}).Get(), target.Get()),
              S_OK);
    EXPECT_EQ(NamesOf(KeysOf(target.Get())),
              (Lines{"SENSOR_PROPERTY_STATE", "WPD_OBJECT_ID", "SENSOR_PROPERTY_TYPE"}));
}

}  // namespace
