// The small operations on the sensor's collections, state and events that other parts of the
// driver use. Each holds mSensorLock from start to end; the scoped lock leaves it on every path.
#include "critical_section_lock.h"
#include "prop_variant.h"
#include "sensor_ddi.h"

HRESULT cSensorDDI::GetPropertyValue(REFPROPERTYKEY key, PROPVARIANT* pValue) {
    cCriticalSectionLock lock(mSensorLock);
    if (!mpSensorProperties) {
        return E_UNEXPECTED;
    }
    return mpSensorProperties->GetValue(key, pValue);
}

HRESULT cSensorDDI::SetPropertyValue(REFPROPERTYKEY key, const PROPVARIANT* pValue) {
    cCriticalSectionLock lock(mSensorLock);
    if (pValue == nullptr || !mpSensorProperties) {
        return E_UNEXPECTED;
    }
    return mpSensorProperties->SetValue(key, pValue);
}

HRESULT cSensorDDI::SetDataFieldValue(REFPROPERTYKEY key, const PROPVARIANT* pValue) {
    cCriticalSectionLock lock(mSensorLock);
    if (pValue == nullptr || !mpSensorDataFields) {
        return E_UNEXPECTED;
    }
    return mpSensorDataFields->SetValue(key, pValue);
}

void cSensorDDI::SetSensorState(SensorState state) {
    cCriticalSectionLock lock(mSensorLock);
    mSensorState = state;
    // Events are signalled only while someone listens.
    if (mSubscriberCount != 0 && mhStateEvent != nullptr) {
        SetEvent(mhStateEvent);
    }
}

// A failed read or write of one field does not stop the copy; the status returned is that of
// the last field's last call.
HRESULT cSensorDDI::CopyDataFieldValues(IPortableDeviceValues* pValues) {
    if (pValues == nullptr) {
        return E_POINTER;
    }
    cCriticalSectionLock lock(mSensorLock);
    if (!mpSensorDataFields) {
        return E_UNEXPECTED;
    }
    DWORD count = 0;
    HRESULT hr = mpSensorDataFields->GetCount(&count);
    if (FAILED(hr)) {
        return hr;
    }
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key;
        cPropVariant value;
        hr = mpSensorDataFields->GetAt(i, &key, &value);
        if (SUCCEEDED(hr)) {
            hr = pValues->SetValue(key, &value);
        }
    }
    return hr;
}
