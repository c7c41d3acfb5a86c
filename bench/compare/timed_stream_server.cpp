#include "timed_stream_server.h"

#include <sys/socket.h>

#include <utility>

namespace zntr::bench {

TimedStreamServer::TimedStreamServer(hotspot::TrackOptions track)
    : track_(std::move(track)), socket_(hotspot::BindTcp("127.0.0.1", 0, true)) {
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

TimedStreamServer::~TimedStreamServer() {
    stop_.Set();
    acceptor_.join();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

std::vector<SentFix> TimedStreamServer::SentFixes() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

int TimedStreamServer::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void TimedStreamServer::AcceptLoop() {
    while (hotspot::WaitFd(socket_.fd.get(), stop_, std::chrono::milliseconds(-1)) ==
           hotspot::WaitResult::kReady) {
        hotspot::UniqueFd client(::accept(socket_.fd.get(), nullptr, nullptr));
        if (!client) {
            continue;
        }
        hotspot::DisableNagle(client.get());
        std::lock_guard lock(mutex_);
        ++connections_;
        // Only the acceptor touches the list; the destructor joins after the acceptor ended.
        workers_.emplace_back([this, fd = client.release()] { Serve(hotspot::UniqueFd(fd)); });
    }
}

void TimedStreamServer::Serve(hotspot::UniqueFd client) {
    hotspot::SyntheticTrack track(track_);
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(track_.period_seconds));
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        const hotspot::Epoch epoch = track.Next();
        for (const std::string& sentence : epoch.sentences) {
            if (!hotspot::WriteAll(client.get(), sentence, stop_)) {
                return;
            }
            if (sentence.starts_with("$PQXFI") && epoch.has_fix) {
                std::lock_guard lock(mutex_);
                sent_.push_back(
                    {std::chrono::steady_clock::now(), epoch.latitude, epoch.longitude});
            }
        }
        next += period;
        const auto pause = next - std::chrono::steady_clock::now();
        if (pause > pause.zero() &&
            !hotspot::SleepUnlessStopped(
                stop_, std::chrono::duration_cast<std::chrono::milliseconds>(pause))) {
            return;
        }
        if (stop_.IsSet()) {
            return;
        }
    }
}

}  // namespace zntr::bench
