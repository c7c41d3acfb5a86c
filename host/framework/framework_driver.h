// The framework driver object (IWDFDriver) the host hands to the driver's IDriverEntry: it makes
// the framework device when the driver's OnDeviceAdd asks for it, and framework memory and
// objects on request. It keeps the devices it made until the host takes them.
#pragma once

#include <mutex>
#include <vector>

#include "framework_device.h"
#include "framework_object.h"

namespace zntr::host {

// The framework version this host runs: 1.9.0.
inline constexpr UMDF_VERSION_DATA kFrameworkVersion = {1, 9, 0};

class FrameworkDriver final : public FrameworkObject<IWDFDriver> {
  public:
    static Microsoft::WRL::ComPtr<FrameworkDriver> Create();

    // pDeviceInit must be the framework's own device-initialisation object, not yet used for a
    // device (E_INVALIDARG otherwise); ppDevice may not be null (E_POINTER). The callback
    // object may be null: the device then has no callbacks.
    HRESULT STDMETHODCALLTYPE CreateDevice(IWDFDeviceInitialize* pDeviceInit,
                                           IUnknown* pCallbackInterface,
                                           IWDFDevice** ppDevice) override;
    // A plain framework object, with context and lock, for a driver's own use.
    HRESULT STDMETHODCALLTYPE CreateWdfObject(IUnknown* pCallbackInterface,
                                              IWDFObject* pParentObject,
                                              IWDFObject** ppWdfObject) override;
    HRESULT STDMETHODCALLTYPE CreatePreallocatedWdfMemory(BYTE* pBuff, SIZE_T BufferSize,
                                                          IUnknown* pCallbackInterface,
                                                          IWDFObject* pParentObject,
                                                          IWDFMemory** ppWdfMemory) override;
    HRESULT STDMETHODCALLTYPE CreateWdfMemory(SIZE_T BufferSize, IUnknown* pCallbackInterface,
                                              IWDFObject* pParentObject,
                                              IWDFMemory** ppWdfMemory) override;
    // TRUE when the framework offers the version asked for: the same major number, and a minor
    // (then service) number not above its own.
    BOOL STDMETHODCALLTYPE IsVersionAvailable(UMDF_VERSION_DATA* pMinimumVersion) override;
    // "1.9.0", by the size rule of size_rules.h.
    HRESULT STDMETHODCALLTYPE RetrieveVersionString(PWSTR pVersion,
                                                    DWORD* pdwVersionLength) override;

    // For the host: the devices made so far, handed over once.
    std::vector<Microsoft::WRL::ComPtr<FrameworkDevice>> TakeDevices();

  protected:
    bool Answers(REFIID riid) const override {
        return IsEqualIID(riid, IID_IWDFDriver) || FrameworkObject::Answers(riid);
    }

  private:
    FrameworkDriver() = default;
    ~FrameworkDriver() override = default;

    std::mutex mutex_;
    std::vector<Microsoft::WRL::ComPtr<FrameworkDevice>> devices_;
};

}  // namespace zntr::host
