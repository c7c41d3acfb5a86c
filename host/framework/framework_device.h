// A framework device (IWDFDevice) as far as the driver needs one so far: the object lock, the
// context, and RetrieveDevicePropertyStore over the device's persisted state. The framework host
// builds its device on the same state.
#pragma once

#include <filesystem>
#include <string>

#include "standin/wudfddi.h"

namespace zntr::host {

// A device for the instance ID whose named values persist in a file under stateFolder (an empty
// folder keeps them in memory only, for tools and tests). Fails when the device's state file
// cannot be read.
HRESULT CreateFrameworkDevice(const std::wstring& deviceInstanceId,
                              const std::filesystem::path& stateFolder, IWDFDevice** ppDevice);

}  // namespace zntr::host
