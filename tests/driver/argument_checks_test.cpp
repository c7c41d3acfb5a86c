// The entry points' checks no framework or class extension call trips (null arguments, a second
// initialisation, a sensor without collections): each refused with its status, changing nothing.
#include "prepared_device.h"

namespace {

using zntr::test::PreparedDevice;

TEST(ArgumentChecks, NullArgumentsAndAMissingSensorAreRefusedWithTheirStatus) {
    PreparedDevice d;
    cSensorDDI& sensor = *gpSensorDDI;
    IWDFDevice* device = d.Framework().device.Get();
    wchar_t id[] = L"ZntrVComLocation";
    IPortableDeviceKeyCollection* keys = sensor.mpSupportedDataFields.Get();
    zntr::test::ComPtr<IPortableDeviceValues> values;
    IPortableDeviceKeyCollection* keysOut = nullptr;
    cSensorDDI* bare = nullptr;
    ASSERT_EQ(cSensorDDI::CreateInstance(&bare), S_OK);
    bare->AddRef();  // the creator's reference, as the device takes it

    const struct {  // braced initialisers run in order
        const char* call;
        HRESULT expected, actual;
    } checks[] = {
        {"cSensorDDI::CreateInstance", E_POINTER, cSensorDDI::CreateInstance(nullptr)},
        {"cMainDevice::CreateInstance", E_UNEXPECTED,
         cMainDevice::CreateInstance(nullptr, nullptr)},
        {"cMainDriver::CreateInstance", E_POINTER,
         cMainDriver::CreateInstance(IID_IDriverEntry, nullptr)},
        {"OnD0Entry, no device", E_POINTER, d.Device().OnD0Entry(nullptr, WdfPowerDeviceD3)},
        {"cQueue::CreateInstance", E_INVALIDARG, cQueue::CreateInstance(nullptr, nullptr, nullptr)},
        {"cQueue::CreateInstance, no main device", E_INVALIDARG,
         cQueue::CreateInstance(device, nullptr, nullptr)},
        {"Initialize, again", E_UNEXPECTED, sensor.Initialize(L"root", device)},
        {"Initialize, no device", E_UNEXPECTED, sensor.Initialize(L"root", nullptr)},
        {"SetPropertyValue", E_UNEXPECTED, sensor.SetPropertyValue(SENSOR_PROPERTY_MODEL, nullptr)},
        {"SetDataFieldValue", E_UNEXPECTED,
         sensor.SetDataFieldValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, nullptr)},
        {"CopyDataFieldValues", E_POINTER, sensor.CopyDataFieldValues(nullptr)},
        {"CopyKeys, no source", E_POINTER, sensor.CopyKeys(nullptr, keys)},
        {"OnGetSupportedProperties", E_POINTER, sensor.OnGetSupportedProperties(id, nullptr)},
        {"OnGetProperties, no keys", E_INVALIDARG,
         sensor.OnGetProperties(nullptr, id, nullptr, values.GetAddressOf())},
        {"OnGetDataFields, no keys", E_INVALIDARG,
         sensor.OnGetDataFields(nullptr, id, nullptr, values.GetAddressOf())},
        {"OnSetProperties, no values", E_INVALIDARG,
         sensor.OnSetProperties(nullptr, id, nullptr, values.GetAddressOf())},
        // A sensor made but never initialised has no collections.
        {"bare SetLBSDefaultPropertyValues", E_UNEXPECTED, bare->SetLBSDefaultPropertyValues()},
        {"bare OnGetSupportedDataFields", E_UNEXPECTED,
         bare->OnGetSupportedDataFields(id, &keysOut)},
        {"bare OnGetDataFields: every key fails", S_FALSE,
         bare->OnGetDataFields(nullptr, id, keys, values.ReleaseAndGetAddressOf())},
    };
    for (const auto& check : checks) {
        EXPECT_EQ(check.actual, check.expected) << check.call;
    }
    bare->Release();
    DWORD properties = 0;
    EXPECT_TRUE(sensor.mpSupportedProperties &&
                SUCCEEDED(sensor.mpSupportedProperties->GetCount(&properties)) && properties == 11)
        << "the second initialisation took nothing away";
}

}  // namespace
