// The host's server: serves the device to client programs on a Unix stream socket, in the
// format of host/protocol.md. Each connection whose first message is an open is one file of the
// device: the open becomes a create request for the driver's queue, reads and device I/O control
// requests go to the queue as they arrive and may complete in any order, and the connection's
// end (a close, or the client's death) cleans up the file, leaving the file's requests with the
// driver (their completions are dropped). A connection whose first message is a control command
// gets the command's outcome and is closed. A malformed message closes its connection only.
//
// One I/O thread reads and writes every socket; driver callbacks run on the device's workers
// and control commands on a thread of their own, one at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client_connection.h"
#include "framework_host.h"
#include "listening_socket.h"

namespace zntr::host {

struct DeviceServerLink;

class DeviceServer {
  public:
    // Listens at socketPath (see ListeningSocket for privateFolder) and serves the host's
    // device; `onStop` is called (on the control thread) when a client sends the stop command.
    // With socketGroup (a group's name or number) that group's members may connect too.
    // Throws std::runtime_error when it cannot listen or the group is unknown.
    DeviceServer(FrameworkHost& host, const std::string& socketPath, bool privateFolder,
                 std::function<void()> onStop, const std::string& socketGroup = "");
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    const std::string& SocketPath() const { return socket_.path(); }
    // Files open now: opened, and not yet cleaned up.
    std::size_t OpenFiles() const { return openFiles_.load(); }

    // Stops serving: closes every connection, which cleans up its file, and returns once every
    // cleanup and control command has finished. The socket's file is removed.
    void Stop();

  private:
    void Loop();
    void Accept();
    // False when the connection is to be closed.
    bool Receive(const std::shared_ptr<ClientConnection>& connection, bool hungUp);
    // Handles the whole messages received so far, until the connection is saturated; false
    // when the connection is to be closed.
    bool Dispatch(const std::shared_ptr<ClientConnection>& connection);
    bool Handle(const std::shared_ptr<ClientConnection>& connection,
                zntr::protocol::Message& message, std::string& problem);
    void Open(const std::shared_ptr<ClientConnection>& connection);
    void Control(const std::shared_ptr<ClientConnection>& connection,
                 zntr::protocol::HostCommand command);
    void CloseConnection(const std::shared_ptr<ClientConnection>& connection,
                         const std::string& reason);
    void Cleanup(Microsoft::WRL::ComPtr<FrameworkFile> file);
    void CleanupFinished();
    void Wake();
    void ControlLoop();

    FrameworkHost& host_;
    ListeningSocket socket_;
    const std::function<void()> onStop_;
    std::shared_ptr<DeviceServerLink> link_;  // owns the wake-up descriptor
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> openFiles_{0};
    std::uint64_t nextSerial_ = 1;
    std::vector<std::shared_ptr<ClientConnection>> connections_;  // I/O thread only

    std::mutex cleanupMutex_;
    std::condition_variable cleanupDone_;
    std::size_t cleanups_ = 0;

    std::mutex controlMutex_;
    std::condition_variable controlPosted_;
    std::deque<std::function<void()>> controlJobs_;
    bool controlStopping_ = false;

    std::thread ioThread_;
    std::thread controlThread_;
    bool stopped_ = false;
};

}  // namespace zntr::host
