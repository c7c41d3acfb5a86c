// A sensor driver of the tests' own behind the class extension: it answers the queries from a
// small catalogue, counts clients and subscribers as the real sensor does (a disconnect or
// unsubscribe with none left is E_UNEXPECTED), and records every call with its file and sensor
// identifier.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "standin/com_helpers.h"
#include "standin/combaseapi.h"
#include "standin/portabledevice.h"
#include "standin/sensorsclassextension.h"
#include "standin/shlwapi.h"
#include "standin/wrl_client.h"

namespace zntr::test {

inline constexpr WCHAR kFakeSensorId[] = L"FakeSensor";

class FakeSensorDriver final : public zntr::platform::ComObject<ISensorDriver> {
  public:
    struct Call {
        std::string name;
        IWDFFile* file;
        std::wstring sensorId;
    };

    static Microsoft::WRL::ComPtr<FakeSensorDriver> Make() {
        Microsoft::WRL::ComPtr<FakeSensorDriver> driver;
        driver.Attach(new FakeSensorDriver());
        return driver;
    }

    // Its answers. Properties: the object ID, a name and the state; data fields: latitude.
    std::wstring friendlyName = L"Fake GPS";
    double latitude = 47.5;
    HRESULT connectResult = S_OK;
    // Runs inside OnClientConnect, before it counts (a test can block a connection there).
    std::function<void()> duringConnect;

    HRESULT STDMETHODCALLTYPE
    OnGetSupportedSensorObjects(IPortableDeviceValuesCollection** ppCollection) override {
        Record("OnGetSupportedSensorObjects", nullptr, nullptr);
        Microsoft::WRL::ComPtr<IPortableDeviceValuesCollection> collection;
        HRESULT hr = Create(CLSID_PortableDeviceValuesCollection,
                            IID_IPortableDeviceValuesCollection, collection);
        Microsoft::WRL::ComPtr<IPortableDeviceValues> object;
        if (SUCCEEDED(hr)) {
            hr = Properties(object);
        }
        if (SUCCEEDED(hr)) {
            hr = collection->Add(object.Get());
        }
        *ppCollection = SUCCEEDED(hr) ? collection.Detach() : nullptr;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE
    OnGetSupportedProperties(LPWSTR pwszObjectID, IPortableDeviceKeyCollection** ppKeys) override {
        Record("OnGetSupportedProperties", nullptr, pwszObjectID);
        return Keys({WPD_OBJECT_ID, SENSOR_PROPERTY_FRIENDLY_NAME, SENSOR_PROPERTY_STATE}, ppKeys);
    }
    HRESULT STDMETHODCALLTYPE
    OnGetSupportedDataFields(LPWSTR pwszObjectID, IPortableDeviceKeyCollection** ppKeys) override {
        Record("OnGetSupportedDataFields", nullptr, pwszObjectID);
        return Keys({SENSOR_DATA_TYPE_TIMESTAMP, SENSOR_DATA_TYPE_LATITUDE_DEGREES}, ppKeys);
    }
    HRESULT STDMETHODCALLTYPE OnGetSupportedEvents(LPWSTR pwszObjectID, GUID** ppEvents,
                                                   ULONG* pulCount) override {
        Record("OnGetSupportedEvents", nullptr, pwszObjectID);
        *ppEvents = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
        (*ppEvents)[0] = SENSOR_EVENT_DATA_UPDATED;
        (*ppEvents)[1] = SENSOR_EVENT_STATE_CHANGED;
        *pulCount = 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnGetProperties(IWDFFile* pFile, LPWSTR pwszObjectID,
                                              IPortableDeviceKeyCollection* pKeys,
                                              IPortableDeviceValues** ppValues) override {
        Record("OnGetProperties", pFile, pwszObjectID);
        Microsoft::WRL::ComPtr<IPortableDeviceValues> all;
        HRESULT hr = Properties(all);
        return SUCCEEDED(hr) ? Answer(all.Get(), pKeys, ppValues) : hr;
    }
    HRESULT STDMETHODCALLTYPE OnGetDataFields(IWDFFile* pFile, LPWSTR pwszObjectID,
                                              IPortableDeviceKeyCollection* pKeys,
                                              IPortableDeviceValues** ppValues) override {
        Record("OnGetDataFields", pFile, pwszObjectID);
        Microsoft::WRL::ComPtr<IPortableDeviceValues> all;
        HRESULT hr = Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, all);
        if (SUCCEEDED(hr)) {
            PROPVARIANT value;
            PropVariantInit(&value);
            value.vt = VT_R8;
            value.dblVal = latitude;
            hr = all->SetValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value);
        }
        return SUCCEEDED(hr) ? Answer(all.Get(), pKeys, ppValues) : hr;
    }
    // Changes nothing: each key is answered with ERROR_NOT_FOUND, and the values given are kept.
    HRESULT STDMETHODCALLTYPE OnSetProperties(IWDFFile* pFile, LPWSTR pwszObjectID,
                                              IPortableDeviceValues* pToSet,
                                              IPortableDeviceValues** ppResults) override {
        Record("OnSetProperties", pFile, pwszObjectID);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastSet_ = pToSet;
        }
        Microsoft::WRL::ComPtr<IPortableDeviceValues> results;
        HRESULT hr = Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, results);
        DWORD count = 0;
        if (SUCCEEDED(hr)) {
            hr = pToSet->GetCount(&count);
        }
        for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
            PROPERTYKEY key{};
            hr = pToSet->GetAt(i, &key, nullptr);
            if (SUCCEEDED(hr)) {
                hr = results->SetErrorValue(key, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
            }
        }
        *ppResults = SUCCEEDED(hr) ? results.Detach() : nullptr;
        return SUCCEEDED(hr) ? (count > 0 ? S_FALSE : S_OK) : hr;
    }
    HRESULT STDMETHODCALLTYPE OnClientConnect(IWDFFile* pFile, LPWSTR pwszObjectID) override {
        Record("OnClientConnect", pFile, pwszObjectID);
        if (duringConnect) {
            duringConnect();
        }
        if (SUCCEEDED(connectResult)) {
            ++clients_;
        }
        return connectResult;
    }
    HRESULT STDMETHODCALLTYPE OnClientDisconnect(IWDFFile* pFile, LPWSTR pwszObjectID) override {
        Record("OnClientDisconnect", pFile, pwszObjectID);
        return Decrease(clients_);
    }
    HRESULT STDMETHODCALLTYPE OnClientSubscribeToEvents(IWDFFile* pFile,
                                                        LPWSTR pwszObjectID) override {
        Record("OnClientSubscribeToEvents", pFile, pwszObjectID);
        ++subscribers_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnClientUnsubscribeFromEvents(IWDFFile* pFile,
                                                            LPWSTR pwszObjectID) override {
        Record("OnClientUnsubscribeFromEvents", pFile, pwszObjectID);
        return Decrease(subscribers_);
    }
    HRESULT STDMETHODCALLTYPE OnProcessWpdMessage(IUnknown*, IUnknown*) override {
        return E_NOTIMPL;
    }

    int Clients() const { return clients_; }
    int Subscribers() const { return subscribers_; }
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // The names of the calls made, in order, without the sensor-list lookups.
    std::vector<std::string> CallNames() {
        std::vector<std::string> names;
        for (const Call& call : Calls()) {
            if (call.name != "OnGetSupportedSensorObjects") {
                names.push_back(call.name);
            }
        }
        return names;
    }
    void ForgetCalls() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }
    Microsoft::WRL::ComPtr<IPortableDeviceValues> LastSet() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastSet_;
    }

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_ISensorDriver); }

  private:
    template <typename Interface>
    static HRESULT Create(REFCLSID clsid, REFIID iid, Microsoft::WRL::ComPtr<Interface>& object) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
    }

    void Record(const char* name, IWDFFile* file, LPCWSTR sensorId) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back({name, file, sensorId != nullptr ? sensorId : L""});
    }

    static HRESULT Decrease(std::atomic<int>& count) {
        int now = count.load();
        while (now > 0 && !count.compare_exchange_weak(now, now - 1)) {
        }
        return now > 0 ? S_OK : E_UNEXPECTED;
    }

    HRESULT Properties(Microsoft::WRL::ComPtr<IPortableDeviceValues>& values) {
        HRESULT hr = Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, values);
        if (SUCCEEDED(hr)) {
            hr = values->SetStringValue(WPD_OBJECT_ID, kFakeSensorId);
        }
        if (SUCCEEDED(hr)) {
            hr = values->SetStringValue(SENSOR_PROPERTY_FRIENDLY_NAME, friendlyName.c_str());
        }
        if (SUCCEEDED(hr)) {
            hr = values->SetUnsignedIntegerValue(SENSOR_PROPERTY_STATE, SENSOR_STATE_READY);
        }
        return hr;
    }

    static HRESULT Keys(std::initializer_list<PROPERTYKEY> keys,
                        IPortableDeviceKeyCollection** ppKeys) {
        Microsoft::WRL::ComPtr<IPortableDeviceKeyCollection> collection;
        HRESULT hr =
            Create(CLSID_PortableDeviceKeyCollection, IID_IPortableDeviceKeyCollection, collection);
        for (const PROPERTYKEY& key : keys) {
            if (SUCCEEDED(hr)) {
                hr = collection->Add(key);
            }
        }
        *ppKeys = SUCCEEDED(hr) ? collection.Detach() : nullptr;
        return hr;
    }

    // Each requested key with its value, or ERROR_NOT_FOUND under it (and S_FALSE).
    static HRESULT Answer(IPortableDeviceValues* all, IPortableDeviceKeyCollection* keys,
                          IPortableDeviceValues** ppValues) {
        Microsoft::WRL::ComPtr<IPortableDeviceValues> answer;
        HRESULT hr = Create(CLSID_PortableDeviceValues, IID_IPortableDeviceValues, answer);
        DWORD count = 0;
        if (SUCCEEDED(hr)) {
            hr = keys->GetCount(&count);
        }
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

    FakeSensorDriver() = default;

    std::mutex mutex_;
    std::vector<Call> calls_;
    Microsoft::WRL::ComPtr<IPortableDeviceValues> lastSet_;
    std::atomic<int> clients_{0};
    std::atomic<int> subscribers_{0};
};

}  // namespace zntr::test
