// The Plug and Play and power life of one framework device, as the framework drives the
// driver's device callbacks: starting (hardware preparation, then D0 entry), sleep and
// hibernation and the return from them, the removal and stop queries, surprise removal, and the
// release of the hardware. Operations run one at a time, as the framework's Plug and Play and
// power changes do.
//
//   start            OnPrepareHardware; OnD0Entry(WdfPowerDeviceD3Final), action none. If either
//                    fails the start fails, and the framework releases the hardware
//                    (OnReleaseHardware) and removes the device.
//   sleep/hibernate  OnD0Exit(WdfPowerDeviceD3) with GetSystemPowerAction answering
//                    PowerActionSleep/PowerActionHibernate. The system goes to sleep whatever the
//                    callback answers, so the device is out of D0 afterwards either way.
//   wake             OnD0Entry(WdfPowerDeviceD3) with the action the system returns from. On a
//                    failure the device stays out of D0 and a later wake tries again.
//   query-remove     OnQueryRemove / OnQueryStop; a failure is the driver's veto. Nothing follows
//   query-stop       here: the device stays started, as after a cancelled removal or stop.
//   surprise-remove  OnSurpriseRemoval, then, as the framework does for a device that is gone,
//                    OnD0Exit(WdfPowerDeviceD3Final) (when in D0) and OnReleaseHardware.
//   release          OnD0Exit(WdfPowerDeviceD3Final) (when in D0) and OnReleaseHardware.
//
// After surprise removal or release the device is removed: it takes no new opens, and every
// further command is refused with HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED). A command the
// device's power state does not allow (sleep while asleep, wake while in D0) is refused with
// HRESULT_FROM_WIN32(ERROR_INVALID_STATE). A callback the driver's callback object does not
// offer is skipped.
#pragma once

#include <mutex>
#include <string>

#include "framework_device.h"

namespace zntr::host {

enum class PnpState { kAdded, kStarted, kRemoved };

struct LifecycleStatus {
    PnpState pnp = PnpState::kAdded;
    bool inD0 = false;
    // The action the device sleeps for while started and out of D0; PowerActionNone else.
    POWER_ACTION lowPowerAction = PowerActionNone;
};

class DeviceLifecycle {
  public:
    explicit DeviceLifecycle(Microsoft::WRL::ComPtr<FrameworkDevice> device);

    HRESULT Start();
    // PowerActionSleep or PowerActionHibernate.
    HRESULT Sleep(POWER_ACTION action);
    HRESULT Wake();
    HRESULT QueryRemove();
    HRESULT QueryStop();
    HRESULT SurpriseRemove();
    HRESULT Release();
    // What the host does when it stops: a release when the device still has its hardware,
    // nothing otherwise.
    void ReleaseForShutdown();

    LifecycleStatus Status() const;

  private:
    HRESULT D0Entry(WDF_POWER_DEVICE_STATE previous, POWER_ACTION action);
    HRESULT D0Exit(WDF_POWER_DEVICE_STATE target, POWER_ACTION action);
    HRESULT ReleaseHardware();
    // D0 exit to D3Final when in D0, then the hardware release; the device is removed.
    void RemoveLocked();

    const Microsoft::WRL::ComPtr<FrameworkDevice> device_;
    mutable std::mutex mutex_;
    LifecycleStatus status_;
};

const char* PnpStateName(PnpState state);
const char* PowerActionName(POWER_ACTION action);

}  // namespace zntr::host
