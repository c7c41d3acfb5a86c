// A framework host (`zntr host`) as a child process with a folder of its own: its socket, its
// state and what it prints live there, so it never meets a host the user runs. The child gets
// the network map in its environment and never the LAN guard's release, runs in a process group
// of its own (a Ctrl-C at the terminal reaches only the parent, which stops it in order), and is
// sent SIGTERM by the kernel if the parent dies first.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace zntr::tools {

struct HostProcessOptions {
    std::string program;                      // the zntr executable
    std::string folder;                       // the host's own folder; it must exist
    std::string networkMap;                   // ZNTR_NETMAP for the host
    std::vector<std::string> extraArguments;  // further `zntr host` options (--log, --registry)
    std::chrono::milliseconds readyTimeout{30000};
};

class HostProcess {
  public:
    // Starts the host and waits until it prints "ready". Throws std::runtime_error with the
    // host's output when it cannot start, ends early or is not ready in time.
    static std::unique_ptr<HostProcess> Start(const HostProcessOptions& options);
    // Stops the host if it still runs.
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    pid_t Pid() const { return pid_; }
    const std::string& SocketPath() const { return socket_; }
    // What the host printed so far (standard output and error).
    std::string Output() const;

    // SIGTERM, then up to `timeout` for the host to release the device and end, SIGKILL after
    // that. The host's exit status, or -1 when it had to be killed or died of a signal.
    int Stop(std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

  private:
    HostProcess(pid_t pid, std::string socket, std::string outputPath)
        : pid_(pid), socket_(std::move(socket)), outputPath_(std::move(outputPath)) {}
    // The exit status once the host has ended (reaped here); nothing while it runs.
    bool Reap(bool wait);

    pid_t pid_;
    std::string socket_;
    std::string outputPath_;
    bool reaped_ = false;
    int status_ = -1;
};

}  // namespace zntr::tools
