#pragma once

// Small POSIX socket helpers for the simulator: owned descriptors, a stop signal that every
// blocking wait also watches, listening sockets and whole writes.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace zntr::hotspot {

// A file descriptor closed when the owner goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    int release();
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Once set, stays set; its descriptor is readable from then on, so poll() on it wakes every
// thread of the simulator at once.
class StopSignal {
  public:
    StopSignal();
    void Set();
    bool IsSet() const;
    int fd() const { return fd_.get(); }

  private:
    UniqueFd fd_;
};

// A TCP socket bound to address:port (0 for any free port). With `listen` false it is bound but
// not listening, so connections to it are refused while nobody else can take the port.
// Throws std::runtime_error with the reason when it cannot be made.
struct BoundSocket {
    UniqueFd fd;
    int port = 0;
};
BoundSocket BindTcp(const std::string& address, int port, bool listen);
void StartListening(const BoundSocket& socket);

enum class WaitResult { kReady, kStopped, kTimeout };

// Waits until fd is readable (or, with `forWrite`, writable), the stop signal is set, or the
// timeout passes (negative: no timeout).
WaitResult WaitFd(int fd, const StopSignal& stop, std::chrono::milliseconds timeout,
                  bool forWrite = false);

// Sleeps for the duration unless the stop signal comes first; false when it did.
bool SleepUnlessStopped(const StopSignal& stop, std::chrono::milliseconds duration);

// Writes every byte unless the peer is gone or the simulator stops; false then.
bool WriteAll(int fd, std::string_view data, const StopSignal& stop);

// Sends each write as soon as it is made, so that separate writes leave as separate segments.
void DisableNagle(int fd);

}  // namespace zntr::hotspot
