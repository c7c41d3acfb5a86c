// The device-initialisation object (IWDFDeviceInitialize) the framework hands to the driver's
// OnDeviceAdd: the identity of the device being added, its property store, and the settings the
// driver gives before it asks the framework driver object to make the framework device.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "device_settings.h"
#include "device_state.h"
#include "standin/com_helpers.h"
#include "standin/wrl_client.h"

namespace zntr::host {

class DeviceInitialize final : public zntr::platform::ComObject<IWDFDeviceInitialize> {
  public:
    static Microsoft::WRL::ComPtr<DeviceInitialize> Create(std::wstring instanceId,
                                                           std::shared_ptr<DeviceState> state);

    void STDMETHODCALLTYPE SetFilter() override;
    void STDMETHODCALLTYPE SetLockingConstraint(WDF_CALLBACK_CONSTRAINT LockType) override;
    HRESULT STDMETHODCALLTYPE
    RetrieveDevicePropertyStore(PCWSTR pcwszServiceName, WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
                                IWDFNamedPropertyStore** ppPropStore,
                                WDF_PROPERTY_STORE_DISPOSITION* pDisposition) override;
    void STDMETHODCALLTYPE SetPowerPolicyOwnership(BOOL fTrue) override;
    void STDMETHODCALLTYPE AutoForwardCreateCleanupClose(WDF_TRI_STATE State) override;
    // The size rule of size_rules.h: a null buffer with size 0 asks for the size needed, a
    // buffer too small is HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
    HRESULT STDMETHODCALLTYPE RetrieveDeviceInstanceId(PWSTR Buffer,
                                                       DWORD* pdwSizeInChars) override;
    void STDMETHODCALLTYPE SetPnpCapability(WDF_PNP_CAPABILITY Capability,
                                            WDF_TRI_STATE Value) override;
    WDF_TRI_STATE STDMETHODCALLTYPE GetPnpCapability(WDF_PNP_CAPABILITY Capability) override;

    // For the framework driver object.
    const std::wstring& InstanceId() const { return instanceId_; }
    const std::shared_ptr<DeviceState>& State() const { return state_; }
    DeviceSettings Settings() const;
    // One framework device per device being added: the first call answers true.
    bool ClaimForDevice();

  protected:
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_IWDFDeviceInitialize); }

  private:
    DeviceInitialize(std::wstring instanceId, std::shared_ptr<DeviceState> state);
    ~DeviceInitialize() override = default;

    const std::wstring instanceId_;
    const std::shared_ptr<DeviceState> state_;
    mutable std::mutex mutex_;
    DeviceSettings settings_;
    bool claimed_ = false;
};

}  // namespace zntr::host
