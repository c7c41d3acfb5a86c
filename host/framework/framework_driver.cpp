#include "framework_driver.h"

#include <utility>

#include "device_initialize.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

ComPtr<FrameworkDriver> FrameworkDriver::Create() {
    ComPtr<FrameworkDriver> driver;
    driver.Attach(new FrameworkDriver());
    return driver;
}

HRESULT FrameworkDriver::CreateDevice(IWDFDeviceInitialize* pDeviceInit,
                                      IUnknown* pCallbackInterface, IWDFDevice** ppDevice) {
    if (ppDevice == nullptr) {
        return E_POINTER;
    }
    *ppDevice = nullptr;
    auto* init = dynamic_cast<DeviceInitialize*>(pDeviceInit);
    if (init == nullptr || !init->ClaimForDevice()) {
        return E_INVALIDARG;
    }
    ComPtr<FrameworkDevice> device =
        FrameworkDevice::Create(init->InstanceId(), init->State(), this, pCallbackInterface);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devices_.push_back(device);
    }
    *ppDevice = device.Detach();
    return S_OK;
}

BOOL FrameworkDriver::IsVersionAvailable(UMDF_VERSION_DATA* pMinimumVersion) {
    if (pMinimumVersion == nullptr) {
        return FALSE;
    }
    if (pMinimumVersion->MajorNumber != kFrameworkVersion.MajorNumber) {
        return FALSE;
    }
    if (pMinimumVersion->MinorNumber != kFrameworkVersion.MinorNumber) {
        return pMinimumVersion->MinorNumber < kFrameworkVersion.MinorNumber ? TRUE : FALSE;
    }
    return pMinimumVersion->ServiceNumber <= kFrameworkVersion.ServiceNumber ? TRUE : FALSE;
}

std::vector<ComPtr<FrameworkDevice>> FrameworkDriver::TakeDevices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(devices_, {});
}

}  // namespace zntr::host
