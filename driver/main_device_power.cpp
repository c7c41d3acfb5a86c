// The device's power and Plug and Play callbacks. They reach the sensor through gpSensorDDI and
// only run its hooks: sleep and removal never stop the feed, they report the sensor as not ready
// until the next position comes. With no sensor (a failed or released preparation) they log and
// succeed.
#include "critical_section_lock.h"
#include "debug_log.h"
#include "main_device.h"
#include "sensor_ddi.h"

using Microsoft::WRL::ComPtr;

namespace {

// What the system is doing while the device's power changes, asked of the framework device's
// IWDFDevice2. Only an exact S_OK with an interface counts: a success code other than S_OK is
// passed on as the failure's status, and S_OK without an interface becomes E_NOINTERFACE.
HRESULT QuerySystemPowerAction(IWDFDevice* pWdfDevice, POWER_ACTION* pAction) {
    if (pWdfDevice == nullptr) {
        return E_POINTER;
    }
    ComPtr<IWDFDevice2> device2;
    const HRESULT hr = pWdfDevice->QueryInterface(IID_IWDFDevice2,
                                                  reinterpret_cast<void**>(device2.GetAddressOf()));
    if (hr != S_OK || !device2) {
        return hr == S_OK ? E_NOINTERFACE : hr;
    }
    *pAction = device2->GetSystemPowerAction();
    return S_OK;
}

// Sleep (S1 to S3) and hibernation are the only system actions the sensor prepares for; a
// device-only power change, a shutdown and the rest pass silently.
bool IsSleepOrHibernate(POWER_ACTION action) {
    return action == PowerActionSleep || action == PowerActionHibernate;
}

}  // namespace

HRESULT cMainDevice::OnD0Entry(IWDFDevice* pWdfDevice, WDF_POWER_DEVICE_STATE /*previousState*/) {
    DebugLog("OnD0Entry was triggered");
    POWER_ACTION action = PowerActionNone;
    const HRESULT hr = QuerySystemPowerAction(pWdfDevice, &action);
    if (hr != S_OK) {
        DebugLog("OnD0Entry failed to get power action, %!hresult!", hr);
        return hr;
    }
    if (!IsSleepOrHibernate(action)) {
        return S_OK;
    }
    if (gpSensorDDI == nullptr) {
        DebugLog("OnD0Entry: no sensor to wake\n");
        return S_OK;
    }
    WakeFromSleep();
    DebugLog("OnD0Entry returning from sleep");
    return S_OK;
}

// Only the network device path is looked up again; the receive thread is left as it is. The
// lookup shares mNetDevicePath with the query callbacks, which use it under mSensorLock, so it
// runs under the lock too (the hooks take their own locks).
void cMainDevice::WakeFromSleep() {
    cSensorDDI* pSensor = gpSensorDDI;
    HRESULT hr = S_OK;
    {
        cCriticalSectionLock lock(pSensor->mSensorLock);
        hr = pSensor->SetNetworkDevicePath();
    }
    if (FAILED(hr)) {
        DebugLog("WakeFromSleep: failed to set Net Device path");
        return;
    }
    if (pSensor->mClientCount > 0) {
        DebugLog("LocationHelperStart: status=%!bool!", TRUE);
    } else {
        DebugLog("WakeFromSleep did not call LocationHelperStart");
    }
}

HRESULT cMainDevice::OnD0Exit(IWDFDevice* pWdfDevice, WDF_POWER_DEVICE_STATE /*newState*/) {
    DebugLog("OnD0Exit was triggered");
    POWER_ACTION action = PowerActionNone;
    const HRESULT hr = QuerySystemPowerAction(pWdfDevice, &action);
    if (hr != S_OK) {
        DebugLog("OnD0Exit failed to get power action, %!hresult!", hr);
        return hr;
    }
    if (!IsSleepOrHibernate(action)) {
        return S_OK;
    }
    if (gpSensorDDI == nullptr) {
        DebugLog("OnD0Exit: no sensor to prepare for sleep\n");
        return S_OK;
    }
    gpSensorDDI->PrepareToSleep();
    DebugLog("OnD0Exit going to sleep");
    return S_OK;
}

namespace {

// The three removal callbacks' common step: the sensor's removal hook, when there is a sensor.
void PrepareSensorRemoval(const char* noSensorMessage) {
    if (gpSensorDDI == nullptr) {
        DebugLog(noSensorMessage);
        return;
    }
    gpSensorDDI->PrepareRemoval();
}

}  // namespace

void cMainDevice::OnSurpriseRemoval(IWDFDevice* /*pWdfDevice*/) {
    DebugLog("OnSurpriseRemoval was triggered");
    PrepareSensorRemoval("OnSurpriseRemoval: no sensor\n");
}

HRESULT cMainDevice::OnQueryRemove(IWDFDevice* /*pWdfDevice*/) {
    DebugLog("OnQueryRemove was triggered");
    PrepareSensorRemoval("OnQueryRemove: no sensor\n");
    return S_OK;
}

HRESULT cMainDevice::OnQueryStop(IWDFDevice* /*pWdfDevice*/) {
    DebugLog("OnQueryStop was triggered");
    PrepareSensorRemoval("OnQueryStop: no sensor\n");
    return S_OK;
}
