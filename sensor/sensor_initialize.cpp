// Initialisation of the sensor: the catalogue with its default values, and the persistent unique
// ID kept in the device's property store.
#include <cwctype>
#include <utility>

#include "critical_section_lock.h"
#include "debug_log.h"
#include "prop_variant.h"
#include "sensor_catalogue.h"
#include "sensor_ddi.h"

namespace {

// Creates one collection as an in-process server; logs the given message on failure.
template <typename Interface>
HRESULT CreateCollection(REFCLSID clsid, REFIID iid, Microsoft::WRL::ComPtr<Interface>& target,
                         const char* failureMessage) {
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                        reinterpret_cast<void**>(target.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) {
        DebugLog(failureMessage, hr);
    }
    return hr;
}

}  // namespace

HRESULT cSensorDDI::Initialize(std::wstring portId, IWDFDevice* pDevice) {
    if (portId.empty() || pDevice == nullptr) {
        DebugLog("cSensorDDI: Initialize, invalid parameters");
        return E_UNEXPECTED;
    }
    // The C runtime's lower-casing, as programs start in the "C" locale: A to Z only.
    for (WCHAR& c : portId) {
        c = static_cast<WCHAR>(towlower(static_cast<wint_t>(c)));
    }
    mNMEAPortID = std::move(portId);

    HRESULT hr = InitializeSensorValues();
    if (FAILED(hr)) {
        DebugLog("Failed to initialize sensor values, %!hresult!", hr);
        return hr;
    }
    hr = SetUniqueID(pDevice);
    if (FAILED(hr)) {
        DebugLog("Failed to set unique ID, %!hresult!", hr);
        // No half-initialised sensor stays behind: the locked operations find no collections.
        ReleaseCollections();
        return hr;
    }
    return S_OK;
}

HRESULT cSensorDDI::InitializeSensorValues() {
    cCriticalSectionLock lock(mSensorLock);
    DebugLog("Insided InitializeSensorValues");
    if (mpSupportedProperties || mpSensorProperties || mpSupportedDataFields ||
        mpSensorDataFields) {
        DebugLog("InitializeSensorValues: already initialized");
        return E_UNEXPECTED;
    }

    HRESULT hr = CreateCollection(CLSID_PortableDeviceKeyCollection,
                                  IID_IPortableDeviceKeyCollection, mpSupportedProperties,
                                  "InitializeSensorValues: failed to create properties, %d\n");
    if (SUCCEEDED(hr)) {
        hr = CreateCollection(CLSID_PortableDeviceValues, IID_IPortableDeviceValues,
                              mpSensorProperties,
                              "InitializeSensorValues: failed to create propert, %!hresult!");
    }
    if (SUCCEEDED(hr)) {
        hr = CreateCollection(CLSID_PortableDeviceKeyCollection, IID_IPortableDeviceKeyCollection,
                              mpSupportedDataFields,
                              "InitializeSensorValues: failed to create data fields, %!hresult!\n");
    }
    if (SUCCEEDED(hr)) {
        hr = CreateCollection(
            CLSID_PortableDeviceValues, IID_IPortableDeviceValues, mpSensorDataFields,
            "InitializeSensorValues: failed to create data field values, %!hresult!\n");
    }
    if (FAILED(hr)) {
        ReleaseCollections();
        return hr;
    }

    hr = InitializeLBSValues();
    if (FAILED(hr)) {
        DebugLog("InitializeLBSValues: %!hresult!", hr);
        ReleaseCollections();
    }
    return hr;
}

HRESULT cSensorDDI::InitializeLBSValues() {
    cCriticalSectionLock lock(mSensorLock);
    const cPropVariant empty;
    HRESULT hr = S_OK;
    // Each key gets its value slot first, then its place in the catalogue; the first failure
    // stops the walk.
    for (const cCatalogueEntry& entry : kSensorPropertyCatalogue) {
        hr = SetPropertyValue(entry.mKey, &empty);
        if (SUCCEEDED(hr)) {
            hr = mpSupportedProperties ? mpSupportedProperties->Add(entry.mKey) : E_UNEXPECTED;
        }
        if (FAILED(hr)) {
            break;
        }
    }
    if (SUCCEEDED(hr)) {
        for (const cCatalogueEntry& entry : kSensorDataFieldCatalogue) {
            hr = SetDataFieldValue(entry.mKey, &empty);
            if (SUCCEEDED(hr)) {
                hr = mpSupportedDataFields ? mpSupportedDataFields->Add(entry.mKey) : E_UNEXPECTED;
            }
            if (FAILED(hr)) {
                break;
            }
        }
    }
    if (FAILED(hr)) {
        DebugLog("InitializeLBSValues: failed to add keys, %d\n", hr);
        return hr;
    }
    hr = SetLBSDefaultPropertyValues();
    DebugLog("SetLBSDefaultPropertyValues, %d\n", hr);
    return hr;
}

// The results of the setters are not looked at: a value that could not be set stays VT_EMPTY.
HRESULT cSensorDDI::SetLBSDefaultPropertyValues() {
    cCriticalSectionLock lock(mSensorLock);
    if (!mpSensorProperties) {
        return E_UNEXPECTED;
    }
    mpSensorProperties->SetStringValue(SENSOR_PROPERTY_FRIENDLY_NAME, L"ZNTR VCOM NMEA");
    mpSensorProperties->SetStringValue(SENSOR_PROPERTY_SERIAL_NUMBER, mNMEAPortID.c_str());
    mpSensorProperties->SetStringValue(SENSOR_PROPERTY_MANUFACTURER, L"Zentrova inc");
    mpSensorProperties->SetStringValue(SENSOR_PROPERTY_MODEL, L"88");
    mpSensorProperties->SetStringValue(WPD_OBJECT_ID, SENSOR_OBJECT_ID);
    mpSensorProperties->SetGuidValue(SENSOR_PROPERTY_TYPE, SENSOR_TYPE_LOCATION_GPS);
    mpSensorProperties->SetGuidValue(WPD_FUNCTIONAL_OBJECT_CATEGORY, SENSOR_CATEGORY_LOCATION);
    mpSensorProperties->SetUnsignedIntegerValue(SENSOR_PROPERTY_STATE, SENSOR_STATE_NO_DATA);
    // Set directly, not through SetSensorState: nobody can be subscribed yet.
    mSensorState = SENSOR_STATE_NO_DATA;
    mpSensorProperties->SetUnsignedIntegerValue(SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY, 0);
    mpSensorProperties->SetUnsignedIntegerValue(SENSOR_PROPERTY_MIN_REPORT_INTERVAL, 100);
    return S_OK;
}

// The unique ID is kept as text (a braced, upper-case GUID) in the device's property store under
// the sensor's identifier: the first initialisation of a device makes it, every later one, also
// after a restart, reads the same one back.
HRESULT cSensorDDI::SetUniqueID(IWDFDevice* pDevice) {
    Microsoft::WRL::ComPtr<IPortableDeviceValues> pProperties;
    {
        cCriticalSectionLock lock(mSensorLock);
        pProperties = mpSensorProperties;
    }
    if (pDevice == nullptr || !pProperties) {
        return E_UNEXPECTED;
    }
    Microsoft::WRL::ComPtr<IWDFNamedPropertyStore> pStore;
    HRESULT hr = pDevice->RetrieveDevicePropertyStore(nullptr, WdfPropertyStoreCreateIfMissing,
                                                      pStore.ReleaseAndGetAddressOf(), nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    GUID uniqueId = GUID_NULL;
    cPropVariant stored;
    if (SUCCEEDED(pStore->GetNamedValue(SENSOR_OBJECT_ID, &stored))) {
        // A stored value that is no text cannot be a GUID's text.
        hr = stored.vt == VT_LPWSTR ? CLSIDFromString(stored.pwszVal, &uniqueId) : CO_E_CLASSSTRING;
    } else {
        hr = CoCreateGuid(&uniqueId);
        if (FAILED(hr)) {
            return hr;
        }
        cPropVariant text;
        hr = StringFromCLSID(uniqueId, &text.pwszVal);
        if (FAILED(hr)) {
            return hr;
        }
        // The text from StringFromCLSID is task memory, which the PROPVARIANT now owns.
        text.vt = VT_LPWSTR;
        hr = pStore->SetNamedValue(SENSOR_OBJECT_ID, &text);
    }
    if (SUCCEEDED(hr)) {
        hr = pProperties->SetGuidValue(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, uniqueId);
    }
    return hr;
}
