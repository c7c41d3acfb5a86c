// A one-shot web interface on 127.0.0.1 for the port discovery's fuzz target: it accepts one
// connection, reads the request up to its empty line, sends the first part of the answer, then
// the second part (only when the discovery is going to receive again), and closes.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace zntr::fuzz {

class StatusPagePeer {
  public:
    // Listens on an ephemeral loopback port; the answer is served once a client connects.
    StatusPagePeer(std::string firstPart, std::string secondPart);
    ~StatusPagePeer();
    StatusPagePeer(const StatusPagePeer&) = delete;
    StatusPagePeer& operator=(const StatusPagePeer&) = delete;

    bool Listening() const { return listener_ >= 0; }
    std::uint16_t Port() const { return port_; }
    // The request received; valid once the exchange is over (after Finish()).
    const std::string& Request() const { return request_; }
    // Waits for the exchange to end.
    void Finish();

  private:
    void Serve();

    std::string firstPart_;
    std::string secondPart_;
    std::string request_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

// Whether the discovery receives a second time after a first receive of these bytes: when they
// are a non-empty text (up to a zero byte) without the "WwPort=" key.
bool ReceivesAgain(const std::string& firstAnswer);

}  // namespace zntr::fuzz
