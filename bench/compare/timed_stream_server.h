// A loopback NMEA stream server for the ingestion benchmark: each connection gets the synthetic
// drive from its start, one epoch per period on a steady schedule, and the server notes when
// every PQXFI sentence has been written to the socket, with the position it carries, so that a
// client's data event can be traced back to the sentence that caused it.
#pragma once

#include <chrono>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "simulator/socket_io.h"
#include "track/synthetic_track.h"

namespace zntr::bench {

struct SentFix {
    std::chrono::steady_clock::time_point sent;
    double latitude = 0.0;
    double longitude = 0.0;
};

class TimedStreamServer {
  public:
    // Listens on 127.0.0.1 at a free port. Throws std::runtime_error when it cannot.
    explicit TimedStreamServer(hotspot::TrackOptions track);
    ~TimedStreamServer();
    TimedStreamServer(const TimedStreamServer&) = delete;
    TimedStreamServer& operator=(const TimedStreamServer&) = delete;

    int port() const { return socket_.port; }
    // Every PQXFI with a fix written so far, on every connection, in the order written.
    std::vector<SentFix> SentFixes() const;
    int Connections() const;

  private:
    void AcceptLoop();
    void Serve(hotspot::UniqueFd client);

    hotspot::TrackOptions track_;
    hotspot::StopSignal stop_;
    hotspot::BoundSocket socket_;
    mutable std::mutex mutex_;
    std::vector<SentFix> sent_;  // guarded by mutex_
    int connections_ = 0;        // guarded by mutex_
    std::list<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace zntr::bench
