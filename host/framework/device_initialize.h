// The device-initialisation object (IWDFDeviceInitialize) the framework hands to the driver's
// OnDeviceAdd: the identity of the device being added, and the device's state for the framework
// device the driver then asks the framework driver object to make.
//
// The settings a driver may give here (filter, locking constraint, power policy ownership, the
// forwarding of create and cleanup, Plug and Play capabilities) change nothing in this host: it
// has no lower driver, makes every driver the power policy owner, and never serialises callbacks
// (the drivers it serves ask for no locking). They are accepted and not kept.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "device_state.h"
#include "standin/com_helpers.h"
#include "standin/wrl_client.h"
#include "standin/wudfddi.h"

namespace zntr::host {

class DeviceInitialize final : public zntr::platform::ComObject<IWDFDeviceInitialize> {
  public:
    static Microsoft::WRL::ComPtr<DeviceInitialize> Create(std::wstring instanceId,
                                                           std::shared_ptr<DeviceState> state);

    void STDMETHODCALLTYPE SetFilter() override {}
    void STDMETHODCALLTYPE SetLockingConstraint(WDF_CALLBACK_CONSTRAINT) override {}
    // Drivers read their store from the framework device, once it is made.
    HRESULT STDMETHODCALLTYPE
    RetrieveDevicePropertyStore(PCWSTR, WDF_PROPERTY_STORE_RETRIEVE_FLAGS, IWDFNamedPropertyStore**,
                                WDF_PROPERTY_STORE_DISPOSITION*) override {
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE SetPowerPolicyOwnership(BOOL) override {}
    void STDMETHODCALLTYPE AutoForwardCreateCleanupClose(WDF_TRI_STATE) override {}
    // The size rule of size_rules.h: a null buffer with size 0 asks for the size needed, a
    // buffer too small is HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
    HRESULT STDMETHODCALLTYPE RetrieveDeviceInstanceId(PWSTR Buffer,
                                                       DWORD* pdwSizeInChars) override;
    void STDMETHODCALLTYPE SetPnpCapability(WDF_PNP_CAPABILITY, WDF_TRI_STATE) override {}
    WDF_TRI_STATE STDMETHODCALLTYPE GetPnpCapability(WDF_PNP_CAPABILITY) override {
        return WdfUseDefault;
    }

    // For the framework driver object.
    const std::wstring& InstanceId() const { return instanceId_; }
    const std::shared_ptr<DeviceState>& State() const { return state_; }
    // One framework device per device being added: the first call answers true.
    bool ClaimForDevice();

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IWDFDeviceInitialize); }

  private:
    DeviceInitialize(std::wstring instanceId, std::shared_ptr<DeviceState> state);
    ~DeviceInitialize() override = default;

    const std::wstring instanceId_;
    const std::shared_ptr<DeviceState> state_;
    std::mutex mutex_;
    bool claimed_ = false;
};

}  // namespace zntr::host
