// The host's control commands from a program: status, stop, power and Plug and Play.
#pragma once

#include <string>

#include "standin/winerror.h"
#include "wire_format.h"

namespace zntr::client {

struct HostCommandResult {
    HRESULT status = S_OK;  // the callback's answer, or the host's refusal
    std::string text;       // JSON for the status query; the command's name otherwise
};

// Sends one command to the host at the socket and waits for its outcome. Throws DeviceError
// when no host serves there or it ends the connection without an answer.
HostCommandResult RunHostCommand(const std::string& socketPath,
                                 zntr::protocol::HostCommand command);

}  // namespace zntr::client
