// A stream server of the test's own on 127.0.0.1: it accepts the driver's connection and sends
// exactly the bytes a test gives it, each text in one write, so that the test decides what a
// receive of the driver finds. POSIX inside, no socket type in the interface, so that tests which
// include the Winsock stand-in can use it.
#pragma once

#include <chrono>
#include <string>

namespace zntr::test {

class StreamPeer {
  public:
    // Listens on 127.0.0.1 at a free port. Throws std::runtime_error when it cannot.
    StreamPeer();
    ~StreamPeer();
    StreamPeer(const StreamPeer&) = delete;
    StreamPeer& operator=(const StreamPeer&) = delete;

    int port() const { return port_; }
    // Waits for the next connection; false when none came in time.
    bool Accept(std::chrono::milliseconds timeout);
    // Sends the text in one write on the accepted connection; false when that failed.
    bool Send(const std::string& text);
    // Waits until the driver closes the accepted connection; false when it is still open after
    // the timeout. Bytes the driver sends meanwhile are dropped.
    bool WaitForClose(std::chrono::milliseconds timeout);

  private:
    int listenFd_ = -1;
    int connectionFd_ = -1;
    int port_ = 0;
};

}  // namespace zntr::test
