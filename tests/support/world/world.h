// The whole system for the process-level tests: the simulator in this process (a test sees
// what it sent and which connections are open), a host running the real driver module as a child
// process, sensor clients as `zntr watch --json` processes, raw connections, the drive's
// positions, the host's threads and descriptors. Everything stays on loopback: the host's
// ZNTR_NETMAP sends the driver's hotspot endpoints to the simulator; no child gets ZNTR_ALLOW_LAN.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host_process.h"
#include "loopback_tools.h"
#include "process_metrics.h"
#include "simulator/simulator.h"
#include "temporary_folder.h"

namespace zntr::test {

// How long a condition may take to come true: sanitizer builds run several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
inline constexpr std::chrono::milliseconds kPatience{120000};
#else
inline constexpr bool kSanitized = false;
inline constexpr std::chrono::milliseconds kPatience{30000};
#endif

const std::string& ZntrProgram();
std::string ReadTextFile(const std::string& path);

struct CommandResult {
    int status = -1;     // -1: it did not end normally within kPatience
    std::string output;  // standard output and error
};
// `zntr WORDS...` started with its output in a file, or run to its end with it kept in `folder`.
std::unique_ptr<ChildProcess> StartZntr(std::vector<std::string> words, const std::string& output);
CommandResult RunZntr(const std::vector<std::string>& words, const std::string& folder);

// The positions of a simulated drive by time of day, generated as far as they are asked for.
class TrackPositions {
  public:
    explicit TrackPositions(const hotspot::TrackOptions& options) : options_(options) {}
    // Whether the drive was within 1e-5 degrees (the sentences carry 1e-4 minutes of arc) of
    // the position at an ISO 8601 time of day (the date is the computer's, not compared), and
    // whether a data event of `zntr watch --json` has a position and time of the drive.
    bool Matches(double latitude, double longitude, const std::string& isoTime) const;
    bool Matches(const nlohmann::json& event) const;

  private:
    hotspot::TrackOptions options_;
    mutable std::unique_ptr<hotspot::SyntheticTrack> track_;
    mutable std::vector<std::pair<double, double>> positions_;  // by epoch; NaN without a fix
};

class World {
  public:
    // The tests' simulator: the default drive at five epochs a second, every stream recorded.
    static hotspot::SimulatorOptions Simulator(double periodSeconds = 0.2);

    // Starts the simulator, then the host; throws std::runtime_error when either cannot start.
    explicit World(hotspot::SimulatorOptions options = Simulator());

    // Stops the simulator (every connection ends) and starts it again on the same ports.
    void RestartHotspot(hotspot::SimulatorOptions options);
    hotspot::HotspotSimulator& Hotspot() { return *hotspot_; }
    int AcceptedStreams() const;  // stream connections accepted, over every restart
    const TrackPositions& Track() const { return track_; }

    const std::string& Folder() const { return folder_.path().native(); }
    const std::string& Socket() const { return host_->SocketPath(); }
    int HostPid() const { return host_->Pid(); }
    std::string HostOutput() const { return host_->Output(); }
    bool HostRuns() const;
    int StopHost() { return host_->Stop(); }  // 0: it released the device and ended in order

    // `zntr WORDS... --socket SOCKET`, run to its end, or started with its output in a file.
    CommandResult Run(std::vector<std::string> words) const;
    std::unique_ptr<ChildProcess> Start(std::vector<std::string> words,
                                        const std::string& output) const;
    // Waits until a new file opens: a closed raw reader's stream, during which the driver
    // refuses opens, ends a little after its connection.
    bool WaitForOpensAccepted() const;

    bool WaitForStreams(int open) const;  // exactly this many stream connections open
    // No stream and no status page connection open: the feed's thread has ended.
    bool WaitForFeedToEnd() const;

    // The host's threads and descriptors once they held still longer than idle workers live;
    // BackToBaseline() waits for no more than that, else says what the host holds.
    void TakeBaseline();
    std::string BackToBaseline() const;
    long ResidentGrowthKiB() const;  // for a bound no allocator can break

  private:
    TemporaryFolder folder_;
    std::unique_ptr<hotspot::HotspotSimulator> hotspot_;
    std::unique_ptr<tools::HostProcess> host_;
    TrackPositions track_;
    int acceptedBefore_ = 0;
    std::optional<ProcessMetrics> baseline_;
};

using EventTest = std::function<bool(const nlohmann::json&)>;
bool IsData(const nlohmann::json& event);
bool IsEnded(const nlohmann::json& event);
EventTest IsState(std::uint32_t state);

// A sensor client: `zntr watch --json` at the world's host. It opens the device, connects,
// subscribes, prints the state the sensor is in ("current":true), then one object per event.
class SensorSession {
  public:
    SensorSession(const World& world, const std::string& name);

    const std::vector<nlohmann::json>& Events() const;  // printed so far
    std::string Output() const { return ReadTextFile(output_); }
    int Count(const EventTest& test) const;
    // Waits until `count` events pass; false when the time ran out or the process ended first.
    bool WaitFor(const EventTest& test, int count = 1) const;
    bool WaitForSubscribed() const;
    // Data events at positions of the drive so far, and the wait for more than `after`.
    int PositionsOnTheDrive() const;
    bool WaitForPositionOnTheDrive(int after = 0) const;

    int Leave();  // Ctrl-C: it unsubscribes, disconnects and ends; its exit status
    void Kill();  // SIGKILL: it dies without leaving, as a crashing program does
    bool Ended() { return process_->Exited(); }
    int ExitStatus() { return process_->InterruptAndWait(kPatience); }

  private:
    const World& world_;
    std::string output_;
    std::unique_ptr<ChildProcess> process_;
    mutable std::vector<nlohmann::json> events_;
    mutable std::size_t parsed_ = 0;  // bytes of the output parsed so far
};

// A connection that sends and reads any bytes: to the host's socket (its wire format byte by
// byte) or to a loopback TCP port (the simulator's). Throws std::runtime_error when refused.
class RawConnection {
  public:
    explicit RawConnection(const std::string& socket);
    explicit RawConnection(int loopbackPort);
    ~RawConnection() { Close(); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    int fd() const { return fd_; }
    // Sends the bytes, or with `all` false what the socket takes now; the count sent, -1 when
    // the peer has closed the connection.
    long Send(std::string_view bytes, bool all = true);
    // The next `count` bytes (fewer when the peer closed or the time ran out), or all until the
    // peer closes.
    std::string Receive(std::size_t count = std::string::npos,
                        std::chrono::milliseconds timeout = kPatience);
    std::string ReadFrame();  // a frame's body of the host's wire format
    bool WaitForClose();      // drops what comes until the peer closes
    void Close();

  private:
    void Connect(int family, const void* address, unsigned length);
    void Fill(std::size_t count, std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    bool closed_ = false;  // by the peer
    std::string pending_;
};

}  // namespace zntr::test
