// The framework's per-device property store as an IWDFNamedPropertyStore, and the device's
// RetrieveDevicePropertyStore behind it.
#pragma once

#include <memory>
#include <string>

#include "device_state.h"
#include "standin/wudfddi.h"

namespace zntr::host {

// An IWDFNamedPropertyStore over one store of a device's state, for the caller to release.
HRESULT CreateNamedPropertyStore(std::shared_ptr<DeviceState> state, std::wstring service,
                                 IWDFNamedPropertyStore** ppStore);

// RetrieveDevicePropertyStore of a framework device whose state this is: opens (or, by the
// flags, creates) the store of the service, or the device's own store for a null name, and
// reports whether it was created. The disposition is optional.
HRESULT RetrieveDevicePropertyStore(const std::shared_ptr<DeviceState>& state,
                                    PCWSTR pcwszServiceName,
                                    WDF_PROPERTY_STORE_RETRIEVE_FLAGS Flags,
                                    IWDFNamedPropertyStore** ppPropStore,
                                    WDF_PROPERTY_STORE_DISPOSITION* pDisposition);

}  // namespace zntr::host
