// Test helpers with no POSIX or Winsock types in their interface: programs the tests run as
// loopback servers, and the ports they use.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace zntr::test {

// The full path of a program found on PATH (or under /usr/sbin, /sbin), or "" when absent.
std::string FindProgram(const std::string& name);

// A port on 127.0.0.1 that was free a moment ago (bound to 0, read back, released).
int FreeLoopbackPort();

// Whether a connection to 127.0.0.1:port succeeds within the timeout, tried every 20 ms.
bool WaitForLoopbackListener(int port, std::chrono::milliseconds timeout);

// A child process, ended (SIGTERM, then SIGKILL after a grace period) and reaped when the
// object goes. Only the process this object started is ever signalled.
class ChildProcess {
  public:
    // Starts argv[0] (a path) with the arguments; standard output and error go to `logFile`
    // when it is not empty, else to /dev/null. Null when it cannot be started.
    static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                               const std::string& logFile = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return pid_; }
    // Whether it has already ended.
    bool Exited();
    // Sends SIGINT (as Ctrl-C does) and waits up to `timeout` for the end; the exit status, or
    // -1 when it did not exit normally in time.
    int InterruptAndWait(std::chrono::milliseconds timeout);

  private:
    explicit ChildProcess(int pid) : pid_(pid) {}
    int pid_;
    bool reaped_ = false;
    int status_ = -1;
};

}  // namespace zntr::test
