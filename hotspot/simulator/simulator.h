#pragma once

// The hotspot simulator: an HTTP/1.1 status endpoint (GET /getGPSStatus.cgi?dataType=TEXT) and a
// TCP NMEA stream server, both on loopback by default, each on its own port (0 picks a free
// one). Each stream connection gets its own stream from the start. Faults are chosen by options.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "simulator/socket_io.h"
#include "simulator/status_answer.h"
#include "simulator/stream_faults.h"
#include "track/synthetic_track.h"

namespace zntr::hotspot {

enum class HttpFault {
    kNone,
    kRefuse,              // the HTTP port refuses connections (bound, not listening)
    kCloseWithoutAnswer,  // accept, read the request, close
    kSilent,              // accept, read the request, never answer
};

// How the status page's answer is sent, when it is sent at all.
struct StatusPageTiming {
    std::chrono::milliseconds delay{0};       // silence between the request and the first byte
    std::chrono::milliseconds byte_pause{0};  // > 0: the answer trickles out one byte at a time
};

struct SimulatorOptions {
    std::string bind_address = "127.0.0.1";
    int http_port = 0;
    int stream_port = 0;

    StatusAnswerOptions answer;
    HttpFault http_fault = HttpFault::kNone;
    // Sent instead of the built answer when not empty, one segment after the other.
    std::vector<std::string> raw_answer_segments;
    // Pause between answer segments, long enough for the client to receive each on its own.
    std::chrono::milliseconds segment_pause{300};
    StatusPageTiming timing;
    // The status page's faults (http_fault, timing, and the answer's filler and binary bytes)
    // hit the first this many status connections (0: every one); later ones get a plain answer.
    int faulty_http_connections = 0;

    // The stream: a capture replayed in a loop when set, else the synthetic drive.
    std::optional<std::string> capture;
    double capture_lines_per_second = 0.0;  // 0: the recorded pace
    TrackOptions track;
    StreamFaultOptions faults;

    // Keeps every byte written on each stream connection, for tests that compare what a client
    // received with what was sent.
    bool record_streams = false;
};

class HotspotSimulator {
  public:
    // Binds both ports and starts serving. Throws std::runtime_error when a port can't be had.
    explicit HotspotSimulator(SimulatorOptions options);
    ~HotspotSimulator();
    HotspotSimulator(const HotspotSimulator&) = delete;
    HotspotSimulator& operator=(const HotspotSimulator&) = delete;

    int http_port() const { return http_port_; }
    int stream_port() const { return stream_port_; }
    const std::string& address() const { return options_.bind_address; }

    // Starts accepting on an HTTP port that was refusing (HttpFault::kRefuse).
    void AcceptHttp();

    // Ends every connection and joins every thread; also done by the destructor.
    void Stop();

    // What clients did so far.
    int http_connections() const { return http_connections_.load(); }
    int stream_connections() const { return stream_connections_.load(); }
    // Status page connections being served now (a silent one counts until its client leaves).
    int open_http_connections() const { return open_http_connections_.load(); }
    // Stream connections being served now: a client that closed its end counts until the
    // simulator's next write to it fails.
    int open_stream_connections() const { return open_stream_connections_.load(); }
    std::string last_request() const;
    // The bytes written so far on stream connection number `index` (0 for the first accepted),
    // when SimulatorOptions::record_streams is set; empty otherwise.
    std::string stream_bytes(std::size_t index) const;

  private:
    void AcceptLoop(int listen_fd, bool http);
    void ServeHttp(UniqueFd client, int index);
    bool SendAnswer(int fd, const std::vector<std::string>& segments, bool faulty);
    void ServeStream(UniqueFd client, std::size_t index);
    void Record(std::size_t index, const std::string& bytes);
    void Spawn(std::function<void()> work);

    SimulatorOptions options_;
    StopSignal stop_;
    BoundSocket http_;
    BoundSocket stream_;
    int http_port_ = 0;
    int stream_port_ = 0;

    std::atomic<int> http_connections_{0};
    std::atomic<int> stream_connections_{0};
    std::atomic<int> open_stream_connections_{0};
    std::atomic<int> open_http_connections_{0};
    mutable std::mutex mutex_;
    std::string last_request_;
    std::vector<std::string> stream_records_;  // guarded by mutex_
    bool http_listening_ = false;

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Worker> workers_;  // guarded by mutex_
    std::thread http_acceptor_;
    std::thread stream_acceptor_;
    bool stopped_ = false;
};

}  // namespace zntr::hotspot
