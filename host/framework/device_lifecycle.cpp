#include "device_lifecycle.h"

#include <utility>

#include "host_report.h"
#include "host_status.h"

namespace zntr::host {

using Microsoft::WRL::ComPtr;

DeviceLifecycle::DeviceLifecycle(ComPtr<FrameworkDevice> device) : device_(std::move(device)) {}

HRESULT DeviceLifecycle::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.pnp != PnpState::kAdded) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    HRESULT hr = S_OK;
    if (const auto hardware = device_->Callbacks().hardware) {
        hr = hardware->OnPrepareHardware(device_.Get());
        if (FAILED(hr)) {
            ReportHostNotice("OnPrepareHardware failed with " + StatusText(hr) +
                             "; the device does not start");
        }
    }
    status_.pnp = PnpState::kStarted;
    if (SUCCEEDED(hr)) {
        hr = D0Entry(WdfPowerDeviceD3Final, PowerActionNone);
        if (FAILED(hr)) {
            ReportHostNotice("OnD0Entry failed with " + StatusText(hr) +
                             "; the device does not start");
        }
    }
    if (FAILED(hr)) {
        // A device that fails to start is released and removed by the framework.
        RemoveLocked();
    }
    return hr;
}

HRESULT DeviceLifecycle::Sleep(POWER_ACTION action) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.pnp == PnpState::kRemoved) {
        return HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED);
    }
    if (status_.pnp != PnpState::kStarted || !status_.inD0 ||
        (action != PowerActionSleep && action != PowerActionHibernate)) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    status_.lowPowerAction = action;
    return D0Exit(WdfPowerDeviceD3, action);
}

HRESULT DeviceLifecycle::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.pnp == PnpState::kRemoved) {
        return HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED);
    }
    if (status_.pnp != PnpState::kStarted || status_.inD0) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    const HRESULT hr = D0Entry(WdfPowerDeviceD3, status_.lowPowerAction);
    if (SUCCEEDED(hr)) {
        status_.lowPowerAction = PowerActionNone;
    }
    return hr;
}

HRESULT DeviceLifecycle::QueryRemove() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.pnp != PnpState::kStarted) {
        return status_.pnp == PnpState::kRemoved ? HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED)
                                                 : HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    const auto pnp = device_->Callbacks().pnp;
    return pnp ? pnp->OnQueryRemove(device_.Get()) : S_OK;
}

HRESULT DeviceLifecycle::QueryStop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.pnp != PnpState::kStarted) {
        return status_.pnp == PnpState::kRemoved ? HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED)
                                                 : HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    const auto pnp = device_->Callbacks().pnp;
    return pnp ? pnp->OnQueryStop(device_.Get()) : S_OK;
}

HRESULT DeviceLifecycle::SurpriseRemove() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.pnp != PnpState::kStarted) {
        return status_.pnp == PnpState::kRemoved ? HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED)
                                                 : HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    if (const auto pnp = device_->Callbacks().pnp) {
        pnp->OnSurpriseRemoval(device_.Get());
    }
    RemoveLocked();
    return S_OK;
}

HRESULT DeviceLifecycle::Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.pnp != PnpState::kStarted) {
        return status_.pnp == PnpState::kRemoved ? HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED)
                                                 : HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    RemoveLocked();
    return S_OK;
}

void DeviceLifecycle::ReleaseForShutdown() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status_.pnp == PnpState::kStarted) {
        RemoveLocked();
    }
}

LifecycleStatus DeviceLifecycle::Status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

HRESULT DeviceLifecycle::D0Entry(WDF_POWER_DEVICE_STATE previous, POWER_ACTION action) {
    HRESULT hr = S_OK;
    if (const auto pnp = device_->Callbacks().pnp) {
        // The action is what GetSystemPowerAction answers, and only during the callback.
        device_->SetSystemPowerAction(action);
        hr = pnp->OnD0Entry(device_.Get(), previous);
        device_->SetSystemPowerAction(PowerActionNone);
    }
    if (SUCCEEDED(hr)) {
        status_.inD0 = true;
    }
    return hr;
}

HRESULT DeviceLifecycle::D0Exit(WDF_POWER_DEVICE_STATE target, POWER_ACTION action) {
    status_.inD0 = false;
    HRESULT hr = S_OK;
    if (const auto pnp = device_->Callbacks().pnp) {
        device_->SetSystemPowerAction(action);
        hr = pnp->OnD0Exit(device_.Get(), target);
        device_->SetSystemPowerAction(PowerActionNone);
    }
    return hr;
}

HRESULT DeviceLifecycle::ReleaseHardware() {
    const auto hardware = device_->Callbacks().hardware;
    return hardware ? hardware->OnReleaseHardware(device_.Get()) : S_OK;
}

void DeviceLifecycle::RemoveLocked() {
    if (status_.inD0) {
        const HRESULT hr = D0Exit(WdfPowerDeviceD3Final, PowerActionNone);
        if (FAILED(hr)) {
            ReportHostNotice("OnD0Exit failed with " + StatusText(hr) +
                             " while the device was being removed");
        }
    }
    const HRESULT hr = ReleaseHardware();
    if (FAILED(hr)) {
        ReportHostNotice("OnReleaseHardware failed with " + StatusText(hr));
    }
    status_.pnp = PnpState::kRemoved;
    status_.lowPowerAction = PowerActionNone;
    device_->SetRemoved(true);
}

const char* PnpStateName(PnpState state) {
    switch (state) {
        case PnpState::kAdded:
            return "added";
        case PnpState::kStarted:
            return "started";
        case PnpState::kRemoved:
            return "removed";
    }
    return "unknown";
}

const char* PowerActionName(POWER_ACTION action) {
    switch (action) {
        case PowerActionNone:
            return "none";
        case PowerActionSleep:
            return "sleep";
        case PowerActionHibernate:
            return "hibernate";
        default:
            return "other";
    }
}

}  // namespace zntr::host
