// The framework's per-device property store as an IWDFNamedPropertyStore, and the device's
// RetrieveDevicePropertyStore behind it.
#pragma once

#include <memory>

#include "device_state.h"
#include "standin/wudfddi.h"

namespace zntr::host {

// RetrieveDevicePropertyStore of a framework device whose state this is: the device's own store
// (a null service name), which always exists, whatever the flags; E_NOTIMPL for the store of a
// service. The disposition is optional.
HRESULT RetrieveDevicePropertyStore(const std::shared_ptr<DeviceState>& state,
                                    PCWSTR pcwszServiceName,
                                    WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
                                    IWDFNamedPropertyStore** ppPropStore,
                                    WDF_PROPERTY_STORE_DISPOSITION* pDisposition);

}  // namespace zntr::host
