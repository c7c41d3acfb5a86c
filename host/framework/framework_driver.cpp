#include "framework_driver.h"

#include <string>
#include <utility>

#include "device_initialize.h"
#include "framework_memory.h"
#include "size_rules.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

namespace {

// A framework object with nothing but the object basics.
class PlainObject final : public FrameworkObject<IWDFObject> {
  public:
    PlainObject() = default;

  private:
    ~PlainObject() override = default;
};

}  // namespace

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
    ComPtr<FrameworkDevice> device = FrameworkDevice::Create(
        init->InstanceId(), init->State(), this, pCallbackInterface, init->Settings());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devices_.push_back(device);
    }
    *ppDevice = device.Detach();
    return S_OK;
}

HRESULT FrameworkDriver::CreateWdfObject(IUnknown* /*pCallbackInterface*/,
                                         IWDFObject* /*pParentObject*/, IWDFObject** ppWdfObject) {
    if (ppWdfObject == nullptr) {
        return E_POINTER;
    }
    *ppWdfObject = new PlainObject();
    return S_OK;
}

HRESULT FrameworkDriver::CreatePreallocatedWdfMemory(BYTE* pBuff, SIZE_T BufferSize,
                                                     IUnknown* /*pCallbackInterface*/,
                                                     IWDFObject* /*pParentObject*/,
                                                     IWDFMemory** ppWdfMemory) {
    if (ppWdfMemory == nullptr) {
        return E_POINTER;
    }
    *ppWdfMemory = nullptr;
    if (pBuff == nullptr && BufferSize > 0) {
        return E_INVALIDARG;
    }
    *ppWdfMemory = FrameworkMemory::CreatePreallocated(pBuff, BufferSize).Detach();
    return S_OK;
}

HRESULT FrameworkDriver::CreateWdfMemory(SIZE_T BufferSize, IUnknown* /*pCallbackInterface*/,
                                         IWDFObject* /*pParentObject*/, IWDFMemory** ppWdfMemory) {
    if (ppWdfMemory == nullptr) {
        return E_POINTER;
    }
    *ppWdfMemory = FrameworkMemory::Create(static_cast<std::size_t>(BufferSize)).Detach();
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

HRESULT FrameworkDriver::RetrieveVersionString(PWSTR pVersion, DWORD* pdwVersionLength) {
    const std::wstring version = std::to_wstring(kFrameworkVersion.MajorNumber) + L"." +
                                 std::to_wstring(kFrameworkVersion.MinorNumber) + L"." +
                                 std::to_wstring(kFrameworkVersion.ServiceNumber);
    return RetrieveText(version, pVersion, pdwVersionLength);
}

std::vector<ComPtr<FrameworkDevice>> FrameworkDriver::TakeDevices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(devices_, {});
}

}  // namespace zntr::host
