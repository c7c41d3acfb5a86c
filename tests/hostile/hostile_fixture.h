// What every hostile-peer test shares: the hotspot simulator in this process (restartable on the
// same ports, so one host can meet several faulty hotspots), a framework host running the real
// driver module as a child process, an in-process sensor client, a raw client that speaks the
// host's wire format byte by byte, and the host's threads, descriptors and memory from /proc.
// Everything stays on loopback: the host's network map sends the driver's hotspot endpoints to
// the simulator and the LAN guard stays closed.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_file.h"
#include "host_process.h"
#include "loopback_tools.h"
#include "process_metrics.h"
#include "sensor_client.h"
#include "sensor_events.h"
#include "simulator/simulator.h"
#include "wait_until.h"

namespace zntr::test {

using namespace std::chrono_literals;

// How long a condition may take to come true: sanitizer builds run several times slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::chrono::milliseconds kPatience = 90s;
#else
inline constexpr std::chrono::milliseconds kPatience = 30s;
#endif

// Whether a latitude and longitude lie on the simulator's default drive: within 1e-5 degrees of
// one of its first epochs' positions (the sentences carry 1e-4 minutes of arc).
bool OnTheDrive(double latitude, double longitude);

// A program's side of the sensor in this process: the device opened at the host's socket, the
// sensor connected and subscribed, its events collected. Leaves in order when it goes.
class SensorSession {
  public:
    explicit SensorSession(const std::string& socket);
    ~SensorSession();
    SensorSession(const SensorSession&) = delete;
    SensorSession& operator=(const SensorSession&) = delete;

    // Waits for a data-updated event whose position lies on the drive; its latitude when one
    // came in time.
    std::optional<double> WaitForPositionOnTheDrive(std::chrono::milliseconds timeout);
    // The sensor's state property, asked now; throws SensorError when the request fails.
    std::uint32_t State();
    client::SensorClient& Sensor() { return *sensor_; }

  private:
    std::unique_ptr<client::DeviceFile> file_;
    std::unique_ptr<client::SensorClient> sensor_;
    client::EventQueue events_{4096};
};

// One connection to the host's socket that sends whatever bytes it is given.
class RawConnection {
  public:
    explicit RawConnection(const std::string& socket);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool Connected() const { return fd_ >= 0; }
    // Sends every byte (blocking); false when the host has closed the connection.
    bool Send(const std::vector<std::uint8_t>& bytes);
    // Sends what the socket takes without blocking; the count taken, -1 when the host is gone.
    long SendSome(const std::vector<std::uint8_t>& bytes);
    // Reads and drops what the host sends until it closes the connection; whether it did in
    // time. The bytes read are added to *received when given.
    bool WaitForClose(std::chrono::milliseconds timeout, std::vector<std::uint8_t>* received = {});
    // Reads one whole frame's body; empty when none came in time or the connection closed.
    std::vector<std::uint8_t> ReadFrame(std::chrono::milliseconds timeout);
    void Close();

  private:
    int fd_ = -1;
    std::vector<std::uint8_t> pending_;
};

// A frame of the wire format with a body of the given bytes (the length field in front).
std::vector<std::uint8_t> Frame(const std::vector<std::uint8_t>& body);

// The simulator, the host and the host's figures. Each test starts the simulator with its
// fault, then the host; WarmUp() runs one clean client through a whole feed and takes the
// host's figures as the baseline that ExpectBackToBaseline() compares with.
class HostileTest : public testing::Test {
  protected:
    void TearDown() override;

    // (Re)starts the simulator with these options, on the ports of the first one once there
    // was one, so the host's network map keeps leading to it.
    void StartSimulator(hotspot::SimulatorOptions options);
    void StartHost();
    const std::string& Socket() const { return host_->SocketPath(); }
    int HostPid() const { return host_->Pid(); }
    hotspot::HotspotSimulator& Hotspot() { return *hotspot_; }
    std::string HostOutput() const { return host_ ? host_->Output() : std::string(); }

    // A clean client gets a position on the drive and leaves; the feed ends; the host's
    // figures become the baseline.
    void WarmUp();
    // The feed is down: no stream and no status connection open at the simulator.
    bool WaitForFeedToEnd(std::chrono::milliseconds timeout = kPatience);
    // A new client gets the sensor's state and a position on the drive, then leaves and the
    // feed ends; the host's threads and descriptors come back to the baseline (or below: idle
    // framework workers end) and its resident memory to within the tolerance.
    void ExpectANewClientIsServedAndNothingIsLeft();
    void ExpectBackToBaseline();
    // The host process still runs.
    bool HostAlive();

    TempFolder folder_;
    std::unique_ptr<hotspot::HotspotSimulator> hotspot_;
    std::unique_ptr<tools::HostProcess> host_;
    std::optional<ProcessMetrics> baseline_;
    int httpPort_ = 0;
    int streamPort_ = 0;
};

// Resident memory the host may keep above its baseline after a hostile peer: allocator caches
// and arenas, not a leak (a leak grows with every round; this is checked per round). Sanitizer
// builds keep more: the address sanitizer's quarantine and per-thread fake stacks, and the
// thread sanitizer's shadow and per-thread state, which a burst of 64 framework workers leaves
// behind for a while (there the leak check at the host's exit is the sharper test).
#if defined(__SANITIZE_THREAD__)
inline constexpr std::size_t kResidentToleranceKiB = 256 * 1024;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr std::size_t kResidentToleranceKiB = 96 * 1024;
#else
inline constexpr std::size_t kResidentToleranceKiB = 12 * 1024;
#endif

}  // namespace zntr::test
