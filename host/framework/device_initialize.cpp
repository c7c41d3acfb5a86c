#include "device_initialize.h"

#include <utility>

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

HRESULT DeviceInitialize::RetrieveDeviceInstanceId(PWSTR Buffer, DWORD* pdwSizeInChars) {
    return RetrieveText(instanceId_, Buffer, pdwSizeInChars);
}

bool DeviceInitialize::ClaimForDevice() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !std::exchange(claimed_, true);
}

}  // namespace zntr::host
