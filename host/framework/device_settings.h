// What a driver told the framework about its device before the framework device was made: the
// settings of the device-initialisation object (IWDFDeviceInitialize).
#pragma once

#include <map>

#include "standin/wudfddi.h"

namespace zntr::host {

struct DeviceSettings {
    bool filter = false;
    // The framework's default: the device's queue and file callbacks are made one at a time.
    WDF_CALLBACK_CONSTRAINT lockingConstraint = WdfDeviceLevel;
    bool powerPolicyOwner = false;
    WDF_TRI_STATE autoForwardCreateCleanupClose = WdfUseDefault;
    std::map<WDF_PNP_CAPABILITY, WDF_TRI_STATE> pnpCapabilities;
};

}  // namespace zntr::host
