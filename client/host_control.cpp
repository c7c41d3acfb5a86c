#include "host_control.h"

#include "device_error.h"
#include "host_socket.h"
#include "host_status.h"

namespace zntr::client {

HostCommandResult RunHostCommand(const std::string& socketPath,
                                 zntr::protocol::HostCommand command) {
    HostSocket socket(socketPath);
    zntr::protocol::ControlMessage message;
    message.command = command;
    std::optional<zntr::protocol::Message> answer;
    if (socket.Send(message)) {
        answer = socket.Receive();
    }
    if (!answer) {
        throw DeviceError(DeviceError::Kind::kConnectionLost,
                          HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED),
                          "the host at " + socketPath + " closed the connection without an answer");
    }
    const auto* result = std::get_if<zntr::protocol::ControlResultMessage>(&*answer);
    if (result == nullptr) {
        throw DeviceError(DeviceError::Kind::kProtocol, E_UNEXPECTED,
                          "the host at " + socketPath + " answered with another message");
    }
    return HostCommandResult{result->status, result->text};
}

}  // namespace zntr::client
