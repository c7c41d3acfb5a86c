#include "simulator/simulator.h"

#include <functional>
#include <stdexcept>

#include <sys/socket.h>

#include "simulator/stream_source.h"

namespace zntr::hotspot {
namespace {

using std::chrono::milliseconds;

constexpr std::size_t kMaxRequestBytes = 8192;
constexpr milliseconds kRequestTimeout{5000};

std::chrono::microseconds ToDuration(double seconds) {
    return std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
}

// Reads a request up to its empty line; what was read (possibly partial) when the client goes
// quiet, closes, or sends too much.
std::string ReadRequest(int fd, const StopSignal& stop) {
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequestBytes) {
        if (WaitFd(fd, stop, kRequestTimeout) != WaitResult::kReady) {
            break;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    return request;
}

}  // namespace

HotspotSimulator::HotspotSimulator(SimulatorOptions options)
    : options_(std::move(options)),
      http_(BindTcp(options_.bind_address, options_.http_port,
                    options_.http_fault != HttpFault::kRefuse)),
      stream_(BindTcp(options_.bind_address, options_.stream_port, true)),
      http_port_(http_.port),
      stream_port_(stream_.port) {
    if (options_.capture) {
        // Fails here rather than in each connection.
        MakeCaptureReplay(*options_.capture, options_.capture_lines_per_second);
    }
    SyntheticTrack check(options_.track);  // throws std::invalid_argument on a bad option
    static_cast<void>(check);
    http_listening_ = options_.http_fault != HttpFault::kRefuse;
    if (http_listening_) {
        http_acceptor_ = std::thread([this] { AcceptLoop(http_.fd.get(), true); });
    }
    stream_acceptor_ = std::thread([this] { AcceptLoop(stream_.fd.get(), false); });
}

HotspotSimulator::~HotspotSimulator() {
    Stop();
}

void HotspotSimulator::AcceptHttp() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (http_listening_ || stopped_) {
        return;
    }
    StartListening(http_);
    http_listening_ = true;
    http_acceptor_ = std::thread([this] { AcceptLoop(http_.fd.get(), true); });
}

void HotspotSimulator::Stop() {
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_) {
            return;
        }
        stopped_ = true;
    }
    stop_.Set();
    if (http_acceptor_.joinable()) {
        http_acceptor_.join();
    }
    if (stream_acceptor_.joinable()) {
        stream_acceptor_.join();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (Worker& worker : workers) {
        worker.thread.join();
    }
}

std::string HotspotSimulator::stream_bytes(std::size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return index < stream_records_.size() ? stream_records_[index] : std::string();
}

std::string HotspotSimulator::last_request() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_request_;
}

void HotspotSimulator::Spawn(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Joins the workers that have finished, so a long run does not pile them up.
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back(Worker{std::thread([work = std::move(work), done] {
                                  work();
                                  done->store(true);
                              }),
                              done});
}

void HotspotSimulator::AcceptLoop(int listen_fd, bool http) {
    while (WaitFd(listen_fd, stop_, milliseconds(-1)) == WaitResult::kReady) {
        UniqueFd client(::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC));
        if (!client) {
            continue;
        }
        DisableNagle(client.get());
        auto shared = std::make_shared<UniqueFd>(std::move(client));
        if (http) {
            const int index = http_connections_++;
            Spawn([this, shared, index] { ServeHttp(std::move(*shared), index); });
        } else {
            const auto index = static_cast<std::size_t>(stream_connections_++);
            Spawn([this, shared, index] { ServeStream(std::move(*shared), index); });
        }
    }
}

void HotspotSimulator::ServeHttp(UniqueFd client, int index) {
    ++open_http_connections_;
    struct Closed {
        std::atomic<int>& open;
        ~Closed() { --open; }
    } closed{open_http_connections_};
    const bool faulty =
        options_.faulty_http_connections <= 0 || index < options_.faulty_http_connections;
    const HttpFault fault = faulty ? options_.http_fault : HttpFault::kNone;
    const std::string request = ReadRequest(client.get(), stop_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        last_request_ = request;
    }
    if (fault == HttpFault::kCloseWithoutAnswer) {
        return;
    }
    if (fault == HttpFault::kSilent) {
        // Holds the connection open without a word until the client leaves or we stop.
        char byte;
        while (WaitFd(client.get(), stop_, milliseconds(-1)) == WaitResult::kReady &&
               ::recv(client.get(), &byte, 1, 0) > 0) {
        }
        return;
    }
    std::vector<std::string> segments;
    if (!IsStatusRequest(request)) {
        segments = {NotFoundAnswer()};
    } else if (!options_.raw_answer_segments.empty()) {
        segments = options_.raw_answer_segments;
    } else {
        StatusAnswerOptions answer = options_.answer;
        if (!faulty) {
            answer.filler_bytes = 0;
            answer.binary_bytes = 0;
        }
        segments = StatusAnswerSegments(answer, options_.bind_address, stream_port_);
    }
    if (!SendAnswer(client.get(), segments, faulty)) {
        return;
    }
    // Closes in order after the answer; lingering reads let the client take it all first.
    ::shutdown(client.get(), SHUT_WR);
    char drain[256];
    while (WaitFd(client.get(), stop_, milliseconds(1000)) == WaitResult::kReady &&
           ::recv(client.get(), drain, sizeof(drain), 0) > 0) {
    }
}

bool HotspotSimulator::SendAnswer(int fd, const std::vector<std::string>& segments, bool faulty) {
    const StatusPageTiming timing = faulty ? options_.timing : StatusPageTiming{};
    if (!SleepUnlessStopped(stop_, timing.delay)) {
        return false;
    }
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0 && !SleepUnlessStopped(stop_, options_.segment_pause)) {
            return false;
        }
        if (timing.byte_pause.count() <= 0) {
            if (!WriteAll(fd, segments[i], stop_)) {
                return false;
            }
            continue;
        }
        for (std::size_t at = 0; at < segments[i].size(); ++at) {
            if ((at > 0 && !SleepUnlessStopped(stop_, timing.byte_pause)) ||
                !WriteAll(fd, std::string_view(segments[i]).substr(at, 1), stop_)) {
                return false;
            }
        }
    }
    return true;
}

void HotspotSimulator::ServeStream(UniqueFd client, std::size_t index) {
    ++open_stream_connections_;
    struct Closed {
        std::atomic<int>& open;
        ~Closed() { --open; }
    } closed{open_stream_connections_};
    std::unique_ptr<SentenceSource> source =
        options_.capture ? MakeCaptureReplay(*options_.capture, options_.capture_lines_per_second)
                         : MakeTrackStream(options_.track);
    StreamFaults faults(options_.faults);
    for (int sent = 0;
         options_.faults.close_after_sentences <= 0 || sent < options_.faults.close_after_sentences;
         ++sent) {
        const PacedSentence sentence = source->Next();
        if (!SleepUnlessStopped(stop_, std::chrono::duration_cast<milliseconds>(
                                           ToDuration(sentence.pause_seconds)))) {
            return;
        }
        if (sent > 0 && sent == options_.faults.pause_after_sentences &&
            !SleepUnlessStopped(stop_, options_.faults.pause)) {
            return;
        }
        const std::vector<std::string> pieces = faults.Render(sentence.text);
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            // A short pause between pieces sends each in a segment of its own.
            if (i > 0 && !SleepUnlessStopped(stop_, milliseconds(2))) {
                return;
            }
            if (!WriteAll(client.get(), pieces[i], stop_)) {
                return;
            }
            if (options_.record_streams) {
                Record(index, pieces[i]);
            }
        }
    }
}

void HotspotSimulator::Record(std::size_t index, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stream_records_.size() <= index) {
        stream_records_.resize(index + 1);
    }
    stream_records_[index] += bytes;
}

}  // namespace zntr::hotspot
