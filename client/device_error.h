// What can go wrong between a program and the device, said plainly: no host running at the
// socket, the device refusing the open (with its status), the host going away mid-way, or a host
// that does not speak this client's protocol.
#pragma once

#include <stdexcept>
#include <string>

#include "standin/winerror.h"

namespace zntr::client {

class DeviceError : public std::runtime_error {
  public:
    enum class Kind {
        kHostNotRunning,  // nothing serves at the socket path (missing, or left behind)
        kOpenRefused,     // the device (or the framework) refused the open; see Status()
        kConnectionLost,  // the host closed the connection
        kProtocol,        // the host's answer did not make sense
    };

    DeviceError(Kind kind, HRESULT status, const std::string& message)
        : std::runtime_error(message), kind_(kind), status_(status) {}

    Kind GetKind() const { return kind_; }
    HRESULT Status() const { return status_; }

  private:
    Kind kind_;
    HRESULT status_;
};

// The status's name and meaning: the host's own statuses, then those of the sensor messages.
std::string DescribeDeviceStatus(HRESULT status);

}  // namespace zntr::client
