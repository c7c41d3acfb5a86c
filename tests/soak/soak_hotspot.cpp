#include "soak_hotspot.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "network_map.h"

namespace zntr::soak {

const char* NameOf(StreamFault fault) {
    switch (fault) {
        case StreamFault::kNone:
            return "clean";
        case StreamFault::kGarbage:
            return "garbage";
        case StreamFault::kBadChecksums:
            return "bad checksums";
        case StreamFault::kSplit:
            return "split sentences";
        case StreamFault::kCloseAfter:
            return "closes streams";
    }
    return "?";
}

SoakHotspot::SoakHotspot()
    : simulator_(
          std::make_unique<hotspot::HotspotSimulator>(Options(StreamFault::kNone, 1, 0, 0))) {}

hotspot::SimulatorOptions SoakHotspot::Options(StreamFault fault, std::uint32_t seed, int httpPort,
                                               int streamPort) {
    hotspot::SimulatorOptions options;
    options.http_port = httpPort;
    options.stream_port = streamPort;
    options.track.period_seconds = 1.0;
    options.faults.seed = seed;
    switch (fault) {
        case StreamFault::kNone:
            break;
        case StreamFault::kGarbage:
            options.faults.garbage_share = 0.1;
            break;
        case StreamFault::kBadChecksums:
            options.faults.bad_checksum_share = 0.1;
            break;
        case StreamFault::kSplit:
            options.faults.split_segments = true;
            break;
        case StreamFault::kCloseAfter:
            options.faults.close_after_sentences = kCloseAfterSentences;
            break;
    }
    return options;
}

void SoakHotspot::Reboot(StreamFault fault, std::uint32_t seed) {
    using namespace std::chrono_literals;
    const int httpPort = simulator_->http_port();
    const int streamPort = simulator_->stream_port();
    acceptedBefore_ += simulator_->stream_connections();
    simulator_.reset();
    // The ports were just released; a bind can still meet them held for a moment.
    for (int attempt = 0;; ++attempt) {
        try {
            simulator_ = std::make_unique<hotspot::HotspotSimulator>(
                Options(fault, seed, httpPort, streamPort));
            break;
        } catch (const std::runtime_error&) {
            if (attempt == 50) {
                throw;
            }
            std::this_thread::sleep_for(100ms);
        }
    }
    fault_ = fault;
    ++reboots_;
}

std::string SoakHotspot::NetworkMap() const {
    return tools::NetworkMapFor(*simulator_);
}

}  // namespace zntr::soak
