// The ISensorDriver query and set callbacks, and the two helpers behind them. Every answer is a
// new collection that the caller owns; it is handed out only when the call succeeds (S_FALSE
// included), so that a failed call leaves no reference behind in the caller's pointer.
//
// A requested key that cannot be answered gets a VT_ERROR value of its own and makes the call
// return S_FALSE rather than fail. Every key answered first carries
// HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), which its value or its read error then replaces.
#include <iterator>

#include "critical_section_lock.h"
#include "debug_log.h"
#include "prop_variant.h"
#include "sensor_ddi.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr HRESULT kKeyNotSupported = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
// The answer to every property a client tries to set.
constexpr HRESULT kKeyNotSettable = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

// The events the sensor posts, in the order they are reported. Not constexpr: the SDK's event
// identifiers are extern constants.
const GUID kSupportedEvents[] = {SENSOR_EVENT_DATA_UPDATED, SENSOR_EVENT_STATE_CHANGED};

// Creates a collection as an in-process server into target, for the out pointer ppOut: a null
// out pointer fails as CoCreateInstance fails for one, with E_POINTER.
template <typename Interface>
HRESULT CreateFor(Interface** ppOut, REFCLSID clsid, REFIID iid, ComPtr<Interface>& target) {
    if (ppOut == nullptr) {
        return E_POINTER;
    }
    *ppOut = nullptr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                            reinterpret_cast<void**>(target.ReleaseAndGetAddressOf()));
}

// Hands the collection to the caller when the call succeeded.
template <typename Interface>
HRESULT HandOut(HRESULT hr, ComPtr<Interface>& collection, Interface** ppOut) {
    if (SUCCEEDED(hr)) {
        *ppOut = collection.Detach();
    }
    return hr;
}

// A counted string freed on every path.
class cBstr {
  public:
    explicit cBstr(const OLECHAR* text) : mText(SysAllocString(text)) {}
    ~cBstr() { SysFreeString(mText); }
    cBstr(const cBstr&) = delete;
    cBstr& operator=(const cBstr&) = delete;
    BSTR Get() const { return mText; }

  private:
    BSTR mText;
};

}  // namespace

HRESULT cSensorDDI::GetSupportedProperties(IPortableDeviceKeyCollection** ppSupportedProperties) {
    cCriticalSectionLock lock(mSensorLock);
    if (ppSupportedProperties == nullptr || !mpSupportedProperties || !mpSensorProperties) {
        return E_UNEXPECTED;
    }
    // Every enumeration of the properties retries the lookups until they succeed; the Setup API
    // calls run under the lock.
    if (mDeviceName.empty()) {
        SetDeviceName();
    }
    if (FAILED(SetNetworkDevicePath())) {
        DebugLog("GetSupportedProperties: failed to set Net Device path, retry");
    }
    *ppSupportedProperties = mpSupportedProperties.Get();
    (*ppSupportedProperties)->AddRef();
    return S_OK;
}

HRESULT cSensorDDI::CopyKeys(IPortableDeviceKeyCollection* pSource,
                             IPortableDeviceKeyCollection* pTarget) {
    if (pSource == nullptr || pTarget == nullptr) {
        return E_POINTER;
    }
    DWORD count = 0;
    HRESULT hr = pSource->GetCount(&count);
    if (FAILED(hr) || count == 0) {
        return hr;
    }
    // A key that cannot be taken is left out; the status is that of the last index.
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        hr = pSource->GetAt(i, &key);
        if (SUCCEEDED(hr)) {
            hr = pTarget->Add(key);
        }
    }
    return hr;
}

HRESULT cSensorDDI::OnGetSupportedSensorObjects(
    IPortableDeviceValuesCollection** ppSensorObjectCollection) {
    ComPtr<IPortableDeviceValuesCollection> pCollection;
    HRESULT hr = CreateFor(ppSensorObjectCollection, CLSID_PortableDeviceValuesCollection,
                           IID_IPortableDeviceValuesCollection, pCollection);
    if (FAILED(hr) || !pCollection) {
        DebugLog("OnGetSupportedSensorObjects: failed to create device collection, %!hresult!", hr);
        return hr;
    }
    const cBstr sensorId(SENSOR_OBJECT_ID);
    if (sensorId.Get() == nullptr) {
        return E_OUTOFMEMORY;
    }
    ComPtr<IPortableDeviceKeyCollection> pKeys;
    hr = OnGetSupportedProperties(sensorId.Get(), pKeys.GetAddressOf());
    if (FAILED(hr) || !pKeys) {
        DebugLog("OnGetSupportedSensorObjects: failed to get supported properties, %!hresult!", hr);
        return hr;
    }
    // The sensor's one entry: every supported property with its current value.
    ComPtr<IPortableDeviceValues> pEntry;
    hr = CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IPortableDeviceValues,
                          reinterpret_cast<void**>(pEntry.GetAddressOf()));
    if (FAILED(hr)) {
        DebugLog("OnGetSupportedSensorObjects: failed to create property collection, %!hresult!",
                 hr);
        return hr;
    }
    DWORD count = 0;
    hr = pKeys->GetCount(&count);
    if (FAILED(hr)) {
        DebugLog("OnGetSupportedSensorObjects: failed to get count\n");
        return hr;
    }
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        hr = pKeys->GetAt(i, &key);
        if (FAILED(hr) || key.pid == 0 || IsEqualGUID(key.fmtid, GUID_NULL)) {
            continue;
        }
        pEntry->SetErrorValue(key, kKeyNotSupported);
        cPropVariant value;
        const HRESULT hrRead = GetPropertyValue(key, &value);
        if (FAILED(hrRead)) {
            hr = pEntry->SetErrorValue(key, hrRead);
            DebugLog("OnGetSupportedSensorObjects: failed to get property, %!hresult!", hr);
        } else {
            hr = pEntry->SetValue(key, &value);
        }
    }
    if (SUCCEEDED(hr)) {
        hr = pCollection->Add(pEntry.Get());
    }
    DebugLog("OnGetSupportedSensorObjects: %!hresult!", hr);
    return HandOut(hr, pCollection, ppSensorObjectCollection);
}

HRESULT cSensorDDI::OnGetSupportedProperties(LPWSTR /*pwszObjectID*/,
                                             IPortableDeviceKeyCollection** ppProperties) {
    ComPtr<IPortableDeviceKeyCollection> pCollection;
    HRESULT hr = CreateFor(ppProperties, CLSID_PortableDeviceKeyCollection,
                           IID_IPortableDeviceKeyCollection, pCollection);
    if (FAILED(hr) || !pCollection) {
        DebugLog("OnGetSupportedProperties: failed to create property collection, %!hresult!", hr);
        return hr;
    }
    ComPtr<IPortableDeviceKeyCollection> pSupported;
    hr = GetSupportedProperties(pSupported.GetAddressOf());
    if (FAILED(hr)) {
        DebugLog("OnGetSupportedProperties: failed to get supported properties, %!hresult!", hr);
        return hr;
    }
    hr = CopyKeys(pSupported.Get(), pCollection.Get());
    DebugLog("OnGetSupportedProperties: copy property keys, %!hresult!", hr);
    return HandOut(hr, pCollection, ppProperties);
}

HRESULT cSensorDDI::OnGetSupportedDataFields(LPWSTR /*pwszObjectID*/,
                                             IPortableDeviceKeyCollection** ppDataFields) {
    ComPtr<IPortableDeviceKeyCollection> pCollection;
    HRESULT hr = CreateFor(ppDataFields, CLSID_PortableDeviceKeyCollection,
                           IID_IPortableDeviceKeyCollection, pCollection);
    if (FAILED(hr) || !pCollection) {
        DebugLog("OnGetSupportedDataFields: failed to create property collection, %d\n", hr);
        return hr;
    }
    ComPtr<IPortableDeviceKeyCollection> pSupported;
    {
        cCriticalSectionLock lock(mSensorLock);
        pSupported = mpSupportedDataFields;
    }
    if (!pSupported) {
        DebugLog("OnGetSupportedDataFields: failed to get supported data fields, %d\n",
                 E_UNEXPECTED);
        return E_UNEXPECTED;
    }
    hr = CopyKeys(pSupported.Get(), pCollection.Get());
    DebugLog("OnGetSupportedDataFields: copy property keys, %d\n", hr);
    return HandOut(hr, pCollection, ppDataFields);
}

HRESULT cSensorDDI::OnGetSupportedEvents(LPWSTR /*pwszObjectID*/, GUID** ppSupportedEvents,
                                         ULONG* pulEventCount) {
    if (ppSupportedEvents == nullptr || pulEventCount == nullptr) {
        return E_POINTER;
    }
    auto* pEvents = static_cast<GUID*>(CoTaskMemAlloc(sizeof(kSupportedEvents)));
    if (pEvents == nullptr) {
        *ppSupportedEvents = nullptr;
        *pulEventCount = 0;
        DebugLog("OnGetSupportedEvents: %d", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    std::copy(std::begin(kSupportedEvents), std::end(kSupportedEvents), pEvents);
    *ppSupportedEvents = pEvents;
    *pulEventCount = static_cast<ULONG>(std::size(kSupportedEvents));
    DebugLog("OnGetSupportedEvents: %d", S_OK);
    return S_OK;
}

HRESULT cSensorDDI::OnGetProperties(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/,
                                    IPortableDeviceKeyCollection* pProperties,
                                    IPortableDeviceValues** ppPropertyValues) {
    if (pProperties == nullptr || ppPropertyValues == nullptr) {
        DebugLog("OnGetProperties: invalid parameters");
        return E_INVALIDARG;
    }
    ComPtr<IPortableDeviceValues> pValues;
    HRESULT hr =
        CreateFor(ppPropertyValues, CLSID_PortableDeviceValues, IID_IPortableDeviceValues, pValues);
    if (FAILED(hr) || !pValues) {
        DebugLog("OnGetProperties: failed to create property collection %d\n", hr);
        return hr;
    }
    DWORD count = 0;
    hr = pProperties->GetCount(&count);
    if (FAILED(hr)) {
        DebugLog("OnGetProperties: failed to get property count %d", hr);
        return hr;
    }
    bool anyKeyFailed = false;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        hr = pProperties->GetAt(i, &key);
        if (FAILED(hr) || key.pid == 0 || IsEqualGUID(key.fmtid, GUID_NULL)) {
            continue;
        }
        pValues->SetErrorValue(key, kKeyNotSupported);
        cPropVariant value;
        hr = GetPropertyValue(key, &value);
        if (SUCCEEDED(hr)) {
            // The store's own result is not looked at: the status stays that of the read.
            pValues->SetValue(key, &value);
        } else {
            // A key the sensor does not have is answered with the read's status.
            hr = pValues->SetErrorValue(key, hr);
            anyKeyFailed = true;
            DebugLog("OnGetProperties: failed to get property %d\n", hr);
        }
    }
    return HandOut(anyKeyFailed ? S_FALSE : hr, pValues, ppPropertyValues);
}

// Unlike OnGetProperties, keys with a property id of 0 or a null format id are looked up like
// any other.
HRESULT cSensorDDI::OnGetDataFields(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/,
                                    IPortableDeviceKeyCollection* pDataFields,
                                    IPortableDeviceValues** ppDataValues) {
    DebugLog("cSensorDDI::OnGetDataFields\n");
    if (pDataFields == nullptr || ppDataValues == nullptr) {
        DebugLog("OnGetDataFields: invalid parameters");
        return E_INVALIDARG;
    }
    ComPtr<IPortableDeviceValues> pValues;
    HRESULT hr =
        CreateFor(ppDataValues, CLSID_PortableDeviceValues, IID_IPortableDeviceValues, pValues);
    if (FAILED(hr) || !pValues) {
        return hr;
    }
    DWORD count = 0;
    hr = pDataFields->GetCount(&count);
    if (FAILED(hr)) {
        DebugLog("OnGetDataFields: GetCount failed %d", hr);
        return hr;
    }
    bool anyKeyFailed = false;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        hr = pDataFields->GetAt(i, &key);
        if (FAILED(hr)) {
            continue;
        }
        pValues->SetErrorValue(key, kKeyNotSupported);
        cPropVariant value;
        HRESULT hrRead = E_UNEXPECTED;
        {
            cCriticalSectionLock lock(mSensorLock);
            if (mpSensorDataFields) {
                hrRead = mpSensorDataFields->GetValue(key, &value);
            }
        }
        if (SUCCEEDED(hrRead)) {
            hr = pValues->SetValue(key, &value);
        } else {
            hr = pValues->SetErrorValue(key, hrRead);
            anyKeyFailed = true;
            DebugLog("OnGetDataFields: invalid data field %d\n", hr);
        }
    }
    return HandOut(anyKeyFailed ? S_FALSE : hr, pValues, ppDataValues);
}

// No property is ever changed by a client: every entry is answered as not found.
HRESULT cSensorDDI::OnSetProperties(IWDFFile* /*pClientFile*/, LPWSTR /*pwszObjectID*/,
                                    IPortableDeviceValues* pPropertiesToSet,
                                    IPortableDeviceValues** ppResults) {
    if (pPropertiesToSet == nullptr || ppResults == nullptr) {
        return E_INVALIDARG;
    }
    ComPtr<IPortableDeviceValues> pResults;
    HRESULT hr =
        CreateFor(ppResults, CLSID_PortableDeviceValues, IID_IPortableDeviceValues, pResults);
    if (FAILED(hr) || !pResults) {
        return hr;
    }
    DWORD count = 0;
    hr = pPropertiesToSet->GetCount(&count);
    if (FAILED(hr)) {
        return hr;
    }
    bool anyEntryAnswered = false;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        cPropVariant value;
        hr = pPropertiesToSet->GetAt(i, &key, &value);
        if (SUCCEEDED(hr)) {
            hr = pResults->SetErrorValue(key, kKeyNotSettable);
            anyEntryAnswered = true;
        }
    }
    const HRESULT result = anyEntryAnswered ? S_FALSE : hr;
    DebugLog("OnSetProperties: we do not support settable properties, %d\n", result);
    return HandOut(result, pResults, ppResults);
}
