// A connection to the host's socket, carrying the host's messages (host/protocol.md): connect,
// send a message, receive the next one. Sends may come from several threads; one thread
// receives.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "wire_format.h"

namespace zntr::client {

class HostSocket {
  public:
    // Connects to the host at path; throws DeviceError (kHostNotRunning) when none serves
    // there, with a message that says why.
    explicit HostSocket(const std::string& path);
    ~HostSocket();
    HostSocket(const HostSocket&) = delete;
    HostSocket& operator=(const HostSocket&) = delete;

    // False when the connection is gone.
    bool Send(const zntr::protocol::Message& message);
    // The next message; nothing when the host closed the connection (or it was shut down).
    // Throws DeviceError (kProtocol) for a malformed one.
    std::optional<zntr::protocol::Message> Receive();
    // Ends the connection in both directions: a Receive waiting in another thread returns
    // nothing, and the host sees the end.
    void Shutdown();

    const std::string& Path() const { return path_; }

  private:
    const std::string path_;
    int fd_ = -1;
    std::mutex sendMutex_;
    zntr::protocol::FrameReader reader_;
};

}  // namespace zntr::client
