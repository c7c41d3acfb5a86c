#include "fake_sensor_driver.h"

#include "standin/combaseapi.h"
#include "standin/portabledevice.h"
#include "standin/wrl_client.h"

namespace zntr::test {
namespace {

using Microsoft::WRL::ComPtr;

template <typename Interface>
HRESULT Create(REFCLSID clsid, REFIID iid, Interface** object) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                            reinterpret_cast<void**>(object));
}

HRESULT Keys(std::initializer_list<PROPERTYKEY> keys, IPortableDeviceKeyCollection** ppKeys) {
    ComPtr<IPortableDeviceKeyCollection> collection;
    HRESULT hr = Create(CLSID_PortableDeviceKeyCollection, IID_IPortableDeviceKeyCollection,
                        collection.GetAddressOf());
    for (const PROPERTYKEY& key : keys) {
        hr = SUCCEEDED(hr) ? collection->Add(key) : hr;
    }
    *ppKeys = SUCCEEDED(hr) ? collection.Detach() : nullptr;
    return hr;
}

// Decrements a count that is above zero; E_UNEXPECTED for one that is not.
HRESULT Decrease(std::atomic<int>& count) {
    int now = count.load();
    while (now > 0 && !count.compare_exchange_weak(now, now - 1)) {
    }
    return now > 0 ? S_OK : E_UNEXPECTED;
}

}  // namespace

void FakeSensorDriver::Name(IWDFFile* file, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    names_[file] = name;
}

HRESULT FakeSensorDriver::Record(const char* method, IWDFFile* file, LPCWSTR sensorId) {
    std::string call = std::string(method) + "(";
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto name = names_.find(file);
        call += name != names_.end() ? name->second : "-";
    }
    const std::wstring id = sensorId != nullptr ? sensorId : L"";
    call += "," + std::string(id.begin(), id.end()) + ")";  // the tests' IDs are ASCII
    const HRESULT answer = calls.Record(call);
    return FAILED(answer) ? answer : S_OK;
}

HRESULT FakeSensorDriver::Properties(IPortableDeviceValues** ppValues) {
    ComPtr<IPortableDeviceValues> values;
    HRESULT hr =
        Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, values.GetAddressOf());
    hr = SUCCEEDED(hr) ? values->SetStringValue(WPD_OBJECT_ID, kFakeSensorId) : hr;
    hr = SUCCEEDED(hr) ? values->SetStringValue(SENSOR_PROPERTY_FRIENDLY_NAME, friendlyName.c_str())
                       : hr;
    hr = SUCCEEDED(hr) ? values->SetUnsignedIntegerValue(SENSOR_PROPERTY_STATE, SENSOR_STATE_READY)
                       : hr;
    *ppValues = SUCCEEDED(hr) ? values.Detach() : nullptr;
    return hr;
}

HRESULT FakeSensorDriver::Select(IPortableDeviceValues* all, IPortableDeviceKeyCollection* keys,
                                 IPortableDeviceValues** ppValues) {
    ComPtr<IPortableDeviceValues> answer;
    HRESULT hr =
        Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, answer.GetAddressOf());
    DWORD count = 0;
    hr = SUCCEEDED(hr) ? keys->GetCount(&count) : hr;
    bool missing = false;
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        PROPERTYKEY key{};
        hr = keys->GetAt(i, &key);
        zntr::platform::PropVariant value;
        if (SUCCEEDED(hr) && SUCCEEDED(all->GetValue(key, &value))) {
            hr = answer->SetValue(key, &value);
        } else if (SUCCEEDED(hr)) {
            missing = true;
            hr = answer->SetErrorValue(key, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
        }
    }
    *ppValues = SUCCEEDED(hr) ? answer.Detach() : nullptr;
    return FAILED(hr) ? hr : (missing ? S_FALSE : S_OK);
}

HRESULT FakeSensorDriver::OnGetSupportedSensorObjects(
    IPortableDeviceValuesCollection** ppCollection) {
    HRESULT hr = Record("OnGetSupportedSensorObjects", nullptr, nullptr);
    ComPtr<IPortableDeviceValuesCollection> collection;
    ComPtr<IPortableDeviceValues> object;
    hr = SUCCEEDED(hr) ? Create(CLSID_PortableDeviceValuesCollection,
                                IID_IPortableDeviceValuesCollection, collection.GetAddressOf())
                       : hr;
    hr = SUCCEEDED(hr) ? Properties(object.GetAddressOf()) : hr;
    hr = SUCCEEDED(hr) ? collection->Add(object.Get()) : hr;
    *ppCollection = SUCCEEDED(hr) ? collection.Detach() : nullptr;
    return hr;
}

HRESULT FakeSensorDriver::OnGetSupportedProperties(LPWSTR pwszObjectID,
                                                   IPortableDeviceKeyCollection** ppKeys) {
    const HRESULT hr = Record("OnGetSupportedProperties", nullptr, pwszObjectID);
    return SUCCEEDED(hr)
               ? Keys({WPD_OBJECT_ID, SENSOR_PROPERTY_FRIENDLY_NAME, SENSOR_PROPERTY_STATE}, ppKeys)
               : hr;
}

HRESULT FakeSensorDriver::OnGetSupportedDataFields(LPWSTR pwszObjectID,
                                                   IPortableDeviceKeyCollection** ppKeys) {
    const HRESULT hr = Record("OnGetSupportedDataFields", nullptr, pwszObjectID);
    return SUCCEEDED(hr)
               ? Keys({SENSOR_DATA_TYPE_LATITUDE_DEGREES, SENSOR_DATA_TYPE_SATELLITES_USED_COUNT},
                      ppKeys)
               : hr;
}

HRESULT FakeSensorDriver::OnGetSupportedEvents(LPWSTR pwszObjectID, GUID** ppEvents,
                                               ULONG* pulCount) {
    const HRESULT hr = Record("OnGetSupportedEvents", nullptr, pwszObjectID);
    if (FAILED(hr)) {
        return hr;
    }
    *ppEvents = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
    (*ppEvents)[0] = SENSOR_EVENT_DATA_UPDATED;
    (*ppEvents)[1] = SENSOR_EVENT_STATE_CHANGED;
    *pulCount = 2;
    return S_OK;
}

HRESULT FakeSensorDriver::OnGetProperties(IWDFFile* pFile, LPWSTR pwszObjectID,
                                          IPortableDeviceKeyCollection* pKeys,
                                          IPortableDeviceValues** ppValues) {
    ComPtr<IPortableDeviceValues> all;
    HRESULT hr = Record("OnGetProperties", pFile, pwszObjectID);
    hr = SUCCEEDED(hr) ? Properties(all.GetAddressOf()) : hr;
    return SUCCEEDED(hr) ? Select(all.Get(), pKeys, ppValues) : hr;
}

HRESULT FakeSensorDriver::OnGetDataFields(IWDFFile* pFile, LPWSTR pwszObjectID,
                                          IPortableDeviceKeyCollection* pKeys,
                                          IPortableDeviceValues** ppValues) {
    ComPtr<IPortableDeviceValues> all;
    HRESULT hr = Record("OnGetDataFields", pFile, pwszObjectID);
    hr = SUCCEEDED(hr)
             ? Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, all.GetAddressOf())
             : hr;
    zntr::platform::PropVariant value;
    value.vt = VT_R8;
    value.dblVal = latitude;
    hr = SUCCEEDED(hr) ? all->SetValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value) : hr;
    value.vt = VT_I2;  // a type the sensor messages do not carry
    value.iVal = 7;
    hr = SUCCEEDED(hr) ? all->SetValue(SENSOR_DATA_TYPE_SATELLITES_USED_COUNT, &value) : hr;
    return SUCCEEDED(hr) ? Select(all.Get(), pKeys, ppValues) : hr;
}

HRESULT FakeSensorDriver::OnSetProperties(IWDFFile* pFile, LPWSTR pwszObjectID,
                                          IPortableDeviceValues* pToSet,
                                          IPortableDeviceValues** ppResults) {
    ComPtr<IPortableDeviceValues> results;
    HRESULT hr = Record("OnSetProperties", pFile, pwszObjectID);
    hr = SUCCEEDED(hr)
             ? Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, results.GetAddressOf())
             : hr;
    DWORD count = 0;
    hr = SUCCEEDED(hr) ? pToSet->GetCount(&count) : hr;
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        PROPERTYKEY key{};
        zntr::platform::PropVariant value;
        hr = pToSet->GetAt(i, &key, &value);
        hr = SUCCEEDED(hr) ? results->SetValue(key, &value) : hr;
    }
    *ppResults = SUCCEEDED(hr) ? results.Detach() : nullptr;
    return hr;
}

HRESULT FakeSensorDriver::OnClientConnect(IWDFFile* pFile, LPWSTR pwszObjectID) {
    const HRESULT hr = Record("OnClientConnect", pFile, pwszObjectID);
    clients_ += SUCCEEDED(hr) ? 1 : 0;
    return hr;
}

HRESULT FakeSensorDriver::OnClientDisconnect(IWDFFile* pFile, LPWSTR pwszObjectID) {
    const HRESULT hr = Record("OnClientDisconnect", pFile, pwszObjectID);
    return SUCCEEDED(hr) ? Decrease(clients_) : hr;
}

HRESULT FakeSensorDriver::OnClientSubscribeToEvents(IWDFFile* pFile, LPWSTR pwszObjectID) {
    const HRESULT hr = Record("OnClientSubscribeToEvents", pFile, pwszObjectID);
    subscribers_ += SUCCEEDED(hr) ? 1 : 0;
    return hr;
}

HRESULT FakeSensorDriver::OnClientUnsubscribeFromEvents(IWDFFile* pFile, LPWSTR pwszObjectID) {
    const HRESULT hr = Record("OnClientUnsubscribeFromEvents", pFile, pwszObjectID);
    return SUCCEEDED(hr) ? Decrease(subscribers_) : hr;
}

}  // namespace zntr::test
