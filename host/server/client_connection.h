// One client connection of the host's server: its socket, the frames it has sent that are not
// yet taken, the frames waiting to go out to it, what it is (a file of the device, or a control
// connection), and the ids of its requests that are still with the driver. Completions reach it
// from any thread; the socket itself is read and written by the server's I/O thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "framework_file.h"
#include "wire_format.h"

namespace zntr::host {

class ClientConnection {
  public:
    enum class State { kNew, kOpening, kOpen, kControl, kClosed };

    // Takes the socket; `wake` tells the I/O thread that output is waiting.
    ClientConnection(int fd, std::uint64_t serial, std::function<void()> wake);
    ~ClientConnection();
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    int fd() const { return fd_; }  // -1 once closed
    std::uint64_t Serial() const { return serial_; }
    zntr::protocol::FrameReader& Reader() { return reader_; }

    State GetState() const;
    void SetState(State state);
    // The file while the connection has one (opening or open).
    void SetFile(Microsoft::WRL::ComPtr<FrameworkFile> file);
    Microsoft::WRL::ComPtr<FrameworkFile> File() const;

    // Queues a frame; dropped when the connection is closed. With closeAfter the connection
    // takes nothing more and is closed once the frame is out.
    void Send(const zntr::protocol::Message& message, bool closeAfter = false);
    // The create request of the file came back. A success opens the file, unless the client is
    // already gone: the file is then handed back for its cleanup. A failure is told to the
    // client, and the connection closes.
    Microsoft::WRL::ComPtr<FrameworkFile> OpenCompleted(HRESULT status);
    // A request's completion: the frame goes out and the id is free again. Nothing is sent for
    // a closed connection.
    void RequestCompleted(const zntr::protocol::CompletedMessage& completion);
    // False when the id is already in use by a request that has not completed.
    bool AddPending(std::uint64_t requestId);

    // For the I/O thread: whether frames wait to go out, writing them, and whether the
    // connection is to be closed now.
    bool HasOutput() const;
    // False when the socket failed.
    bool Flush();
    bool CloseDue() const;
    // Too much output is waiting: the client does not read its answers.
    bool Overrun() const;
    // The client has enough with the host for now (requests with the driver, or answers it has
    // not taken): its further messages wait, unread, until it has fewer.
    bool Saturated() const;
    // Closes the connection and its socket: no more output, and the file (when one was open)
    // is handed back for its cleanup. The object itself may live on while requests of it are
    // with the driver; their completions are dropped.
    Microsoft::WRL::ComPtr<FrameworkFile> Close();

  private:
    int fd_;
    const std::uint64_t serial_;
    const std::function<void()> wake_;
    zntr::protocol::FrameReader reader_;

    mutable std::mutex mutex_;
    State state_ = State::kNew;
    Microsoft::WRL::ComPtr<FrameworkFile> file_;
    std::vector<std::uint8_t> output_;
    std::size_t outputOffset_ = 0;
    bool closeAfterOutput_ = false;
    std::set<std::uint64_t> pending_;
};

}  // namespace zntr::host
