// The device instance ID the framework host gives the driver unless told otherwise: function 2
// (the GPS serial port) of the composite USB device that the shipped device database
// (data/devices.json) describes, so that the driver's device lookups find its serial-port name
// and its sibling network adapter there.
#pragma once

namespace zntr::host {

inline constexpr wchar_t kDefaultDeviceInstanceId[] =
    L"USB\\VID_F00D&PID_7E57&MI_02\\7&2F3E4D5C&0&0002";

}  // namespace zntr::host
