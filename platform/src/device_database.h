// The device database the Setup API stand-in enumerates: devices with their instance IDs, whether
// they are present, their friendly names and their device interfaces. Internal to the platform
// library; the file format is described in data/README.md.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/windef.h"

namespace zntr::platform::detail {

struct DeviceInterfaceRecord {
    GUID interfaceClass;
    std::wstring path;
};

struct DeviceRecord {
    std::wstring instanceId;
    bool present = true;
    std::optional<std::wstring> friendlyName;  // none: the property cannot be read
    std::vector<DeviceInterfaceRecord> interfaces;
};

struct DeviceDatabase {
    std::vector<DeviceRecord> devices;  // in the file's order, which is the enumeration order
};

// Parses the text of a database file; std::nullopt with the reason in *reason when it is not
// one.
std::optional<DeviceDatabase> ParseDeviceDatabase(std::string_view text, std::string* reason);

// Reads the database in force (see device_database_control.h). On failure returns std::nullopt
// with the Win32 error to report in *error: ERROR_FILE_NOT_FOUND when the file cannot be read,
// ERROR_INVALID_DATA when it does not parse.
std::optional<DeviceDatabase> LoadDeviceDatabase(DWORD* error);

}  // namespace zntr::platform::detail
