// The framework driver object (IWDFDriver) the host hands to the driver's IDriverEntry: it makes
// the framework device when the driver's OnDeviceAdd asks for it, and keeps the devices it made
// until the host takes them.
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
    // Framework objects, memory and the version string are for a driver's own use, which the
    // drivers this host serves make none of.
    HRESULT STDMETHODCALLTYPE CreateWdfObject(IUnknown*, IWDFObject*, IWDFObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreatePreallocatedWdfMemory(BYTE*, SIZE_T, IUnknown*, IWDFObject*,
                                                          IWDFMemory**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateWdfMemory(SIZE_T, IUnknown*, IWDFObject*,
                                              IWDFMemory**) override {
        return E_NOTIMPL;
    }
    // TRUE when the framework offers the version asked for: the same major number, and a minor
    // (then service) number not above its own.
    BOOL STDMETHODCALLTYPE IsVersionAvailable(UMDF_VERSION_DATA* pMinimumVersion) override;
    HRESULT STDMETHODCALLTYPE RetrieveVersionString(PWSTR, DWORD*) override { return E_NOTIMPL; }

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
