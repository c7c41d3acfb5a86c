#include "offline_sensor.h"

#include "critical_section_lock.h"
#include "framework_device.h"

namespace zntr::tools {

OfflineSensor::~OfflineSensor() {
    if (gpSensorDDI != nullptr) {
        {
            cCriticalSectionLock lock(gpSensorDDI->mSensorLock);
            gpSensorDDI->mhDataEvent = nullptr;
            gpSensorDDI->mhStateEvent = nullptr;
        }
        gpSensorDDI->Release();
        gpSensorDDI = nullptr;
    }
    for (HANDLE event : {dataEvent_, stateEvent_}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
    dataValues_ = nullptr;
    device_ = nullptr;
    if (comEntered_) {
        CoUninitialize();
    }
}

HRESULT OfflineSensor::Start(const Options& options) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        return hr;
    }
    comEntered_ = true;
    hr = zntr::host::CreateFrameworkDevice(options.deviceInstanceId, options.stateFolder,
                                           device_.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr)) {
        hr = cSensorDDI::CreateInstance(&gpSensorDDI);
    }
    if (SUCCEEDED(hr)) {
        gpSensorDDI->AddRef();
        hr = gpSensorDDI->Initialize(options.deviceInstanceId, device_.Get());
    }
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IPortableDeviceValues,
                              reinterpret_cast<void**>(dataValues_.ReleaseAndGetAddressOf()));
    }
    if (FAILED(hr)) {
        return hr;
    }
    // The device's events are auto-reset, as the event thread waits on them.
    dataEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    stateEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (dataEvent_ == nullptr || stateEvent_ == nullptr) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    cSensorDDI& sensor = Sensor();
    {
        cCriticalSectionLock lock(sensor.mSensorLock);
        sensor.mhDataEvent = dataEvent_;
        sensor.mhStateEvent = stateEvent_;
    }
    // No client connects: that would start the feed from the hotspot.
    std::wstring objectId = SENSOR_OBJECT_ID;
    return options.subscribed ? sensor.OnClientSubscribeToEvents(nullptr, objectId.data()) : S_OK;
}

bool OfflineSensor::DataEventSet() {
    return WaitForSingleObject(dataEvent_, 0) == WAIT_OBJECT_0;
}

bool OfflineSensor::StateEventSet() {
    return WaitForSingleObject(stateEvent_, 0) == WAIT_OBJECT_0;
}

IPortableDeviceValues* OfflineSensor::CopyDataFields() {
    dataValues_->Clear();
    gpSensorDDI->CopyDataFieldValues(dataValues_.Get());
    return dataValues_.Get();
}

}  // namespace zntr::tools
