// The soak's hotspot: the simulator streaming the synthetic drive at one epoch a second, which
// the soak reboots now and then on the same ports (a hotspot restart), each time with the
// stream faults chosen for the next while.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "simulator/simulator.h"

namespace zntr::soak {

enum class StreamFault {
    kNone,
    kGarbage,       // runs of garbage bytes before a share of the sentences
    kBadChecksums,  // a share of the sentences with a wrong checksum
    kSplit,         // every sentence cut across two to four TCP segments
    kCloseAfter,    // each stream connection closed by the hotspot after a few seconds
};

const char* NameOf(StreamFault fault);

class SoakHotspot {
  public:
    // Sentences a kCloseAfter stream sends before the hotspot closes it: a few epochs.
    static constexpr int kCloseAfterSentences = 40;

    // Starts a clean hotspot on free loopback ports. Throws std::runtime_error when it can't.
    SoakHotspot();

    // Stops the hotspot (every connection ends) and starts it again on the same ports with the
    // given fault; `seed` makes the fault's choices reproducible.
    void Reboot(StreamFault fault, std::uint32_t seed);

    StreamFault fault() const { return fault_; }
    int reboots() const { return reboots_; }
    // Stream connections open now, at the running hotspot.
    int OpenStreams() const { return simulator_->open_stream_connections(); }
    // Stream connections accepted since the soak began, over every reboot.
    int AcceptedStreams() const { return acceptedBefore_ + simulator_->stream_connections(); }
    // The ZNTR_NETMAP that sends the driver's hotspot endpoints here; it stays valid over
    // reboots, since the ports do.
    std::string NetworkMap() const;
    int HttpPort() const { return simulator_->http_port(); }
    int StreamPort() const { return simulator_->stream_port(); }

  private:
    static hotspot::SimulatorOptions Options(StreamFault fault, std::uint32_t seed, int httpPort,
                                             int streamPort);

    std::unique_ptr<hotspot::HotspotSimulator> simulator_;
    StreamFault fault_ = StreamFault::kNone;
    int acceptedBefore_ = 0;
    int reboots_ = 0;
};

}  // namespace zntr::soak
