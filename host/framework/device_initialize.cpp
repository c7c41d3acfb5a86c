#include "device_initialize.h"

#include <utility>

#include "device_property_store.h"
#include "size_rules.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

DeviceInitialize::DeviceInitialize(std::wstring instanceId, std::shared_ptr<DeviceState> state)
    : instanceId_(std::move(instanceId)), state_(std::move(state)) {}

ComPtr<DeviceInitialize> DeviceInitialize::Create(std::wstring instanceId,
                                                  std::shared_ptr<DeviceState> state) {
    ComPtr<DeviceInitialize> init;
    init.Attach(new DeviceInitialize(std::move(instanceId), std::move(state)));
    return init;
}

void DeviceInitialize::SetFilter() {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.filter = true;
}

void DeviceInitialize::SetLockingConstraint(WDF_CALLBACK_CONSTRAINT LockType) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.lockingConstraint = LockType;
}

HRESULT DeviceInitialize::RetrieveDevicePropertyStore(
    PCWSTR pcwszServiceName, WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
    IWDFNamedPropertyStore** ppPropStore, WDF_PROPERTY_STORE_DISPOSITION* pDisposition) {
    return zntr::host::RetrieveDevicePropertyStore(state_, pcwszServiceName, Flags, ppPropStore,
                                                   pDisposition);
}

void DeviceInitialize::SetPowerPolicyOwnership(BOOL fTrue) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.powerPolicyOwner = fTrue != FALSE;
}

void DeviceInitialize::AutoForwardCreateCleanupClose(WDF_TRI_STATE State) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.autoForwardCreateCleanupClose = State;
}

HRESULT DeviceInitialize::RetrieveDeviceInstanceId(PWSTR Buffer, DWORD* pdwSizeInChars) {
    return RetrieveText(instanceId_, Buffer, pdwSizeInChars);
}

void DeviceInitialize::SetPnpCapability(WDF_PNP_CAPABILITY Capability, WDF_TRI_STATE Value) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.pnpCapabilities[Capability] = Value;
}

WDF_TRI_STATE DeviceInitialize::GetPnpCapability(WDF_PNP_CAPABILITY Capability) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = settings_.pnpCapabilities.find(Capability);
    return it == settings_.pnpCapabilities.end() ? WdfUseDefault : it->second;
}

DeviceSettings DeviceInitialize::Settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

bool DeviceInitialize::ClaimForDevice() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !std::exchange(claimed_, true);
}

}  // namespace zntr::host
