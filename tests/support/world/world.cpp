#include "world.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "network_map.h"
#include "wait_until.h"

namespace zntr::test {
namespace {

using namespace std::chrono_literals;

std::string NextOutputFile(const std::string& folder, const std::string& name) {
    static std::atomic<int> counter{0};
    return folder + "/" + name + "-" + std::to_string(counter++) + ".out";
}

}  // namespace

const std::string& ZntrProgram() {
    static const std::string program = ZNTR_BINARY;
    return program;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::unique_ptr<ChildProcess> StartZntr(std::vector<std::string> words, const std::string& output) {
    // The commands never reach the LAN from a test, whatever the caller's environment says.
    ::unsetenv("ZNTR_ALLOW_LAN");
    words.insert(words.begin(), ZntrProgram());
    return ChildProcess::Start(words, output);
}

CommandResult RunZntr(const std::vector<std::string>& words, const std::string& folder) {
    const std::string output = NextOutputFile(folder, "zntr");
    CommandResult result;
    if (const auto process = StartZntr(words, output)) {
        WaitUntil([&] { return process->Exited(); }, kPatience);
        result.status = process->InterruptAndWait(0ms);
    }
    result.output = ReadTextFile(output);
    return result;
}

bool TrackPositions::Matches(double latitude, double longitude, const std::string& isoTime) const {
    const auto t = isoTime.find('T');  // hh:mm:ss.sssZ after it
    if (t == std::string::npos || isoTime.size() < t + 9) {
        return false;
    }
    double since = std::stod(isoTime.substr(t + 1, 2)) * 3600 +
                   std::stod(isoTime.substr(t + 4, 2)) * 60 + std::stod(isoTime.substr(t + 7)) -
                   options_.start_seconds_of_day;
    since += since < 0 ? 86400.0 : 0.0;
    const double index = std::round(since / options_.period_seconds);
    if (std::fabs(index * options_.period_seconds - since) > 0.005 || index > 1e6) {
        return false;  // not the time of an epoch
    }
    if (!track_) {
        track_ = std::make_unique<hotspot::SyntheticTrack>(options_);
    }
    while (positions_.size() <= static_cast<std::size_t>(index)) {
        const hotspot::Epoch epoch = track_->Next();
        const double none = std::numeric_limits<double>::quiet_NaN();
        positions_.emplace_back(epoch.has_fix ? epoch.latitude : none,
                                epoch.has_fix ? epoch.longitude : none);
    }
    const auto& [lat, lon] = positions_[static_cast<std::size_t>(index)];
    return std::fabs(lat - latitude) <= 1e-5 && std::fabs(lon - longitude) <= 1e-5;
}

bool TrackPositions::Matches(const nlohmann::json& event) const {
    const nlohmann::json none,
        &lat = event.contains("latitude_degrees") ? event["latitude_degrees"] : none,
        &lon = event.contains("longitude_degrees") ? event["longitude_degrees"] : none,
        &time = event.contains("timestamp") ? event["timestamp"] : none;
    return IsData(event) && lat.is_number() && lon.is_number() && time.is_string() &&
           Matches(lat.get<double>(), lon.get<double>(), time.get<std::string>());
}

hotspot::SimulatorOptions World::Simulator(double periodSeconds) {
    hotspot::SimulatorOptions options;
    options.track.period_seconds = periodSeconds;
    options.record_streams = true;
    return options;
}

World::World(hotspot::SimulatorOptions options)
    : hotspot_(std::make_unique<hotspot::HotspotSimulator>(options)),
      host_(tools::HostProcess::Start(
          {ZntrProgram(), Folder(), tools::NetworkMapFor(*hotspot_), {}, kPatience})),
      track_(options.track) {}

void World::RestartHotspot(hotspot::SimulatorOptions options) {
    options.http_port = hotspot_->http_port();
    options.stream_port = hotspot_->stream_port();
    acceptedBefore_ += hotspot_->stream_connections();
    hotspot_.reset();
    // The ports were just released; a bind can still find them held for a moment.
    for (auto deadline = std::chrono::steady_clock::now() + kPatience; !hotspot_;) {
        try {
            hotspot_ = std::make_unique<hotspot::HotspotSimulator>(options);
        } catch (const std::runtime_error&) {
            std::this_thread::sleep_for(100ms);
            if (std::chrono::steady_clock::now() > deadline) {
                throw;
            }
        }
    }
}

int World::AcceptedStreams() const {
    return acceptedBefore_ + hotspot_->stream_connections();
}

bool World::HostRuns() const {  // neither gone nor a zombie
    const std::string stat = ReadTextFile("/proc/" + std::to_string(HostPid()) + "/stat");
    const auto state = stat.rfind(')') + 2;
    return state < stat.size() && stat[state] != 'Z' && stat[state] != 'X';
}

CommandResult World::Run(std::vector<std::string> words) const {
    words.insert(words.end(), {"--socket", Socket()});
    return RunZntr(words, Folder());
}

std::unique_ptr<ChildProcess> World::Start(std::vector<std::string> words,
                                           const std::string& output) const {
    words.insert(words.end(), {"--socket", Socket()});
    return StartZntr(words, output);
}

bool World::WaitForOpensAccepted() const {
    return WaitUntil([&] { return Run({"get"}).status == 0; }, kPatience);
}

bool World::WaitForStreams(int open) const {
    return WaitUntil([&] { return hotspot_->open_stream_connections() == open; }, kPatience);
}

bool World::WaitForFeedToEnd() const {
    return WaitForStreams(0) &&
           WaitUntil([&] { return hotspot_->open_http_connections() == 0; }, kPatience);
}

void World::TakeBaseline() {
    // Idle framework workers end two seconds after their last task: the figures count once
    // they have held still for longer than that.
    std::optional<ProcessMetrics> last;
    int still = 0;
    WaitUntil(
        [&] {
            const auto now = ReadProcessMetrics(HostPid());
            still = now && last && now->threads == last->threads &&
                            now->descriptors == last->descriptors
                        ? still + 1
                        : 0;
            last = now;
            return still >= 12;
        },
        kPatience, 250ms);
    baseline_ = last;
    if (!baseline_) {
        throw std::runtime_error("the host's figures cannot be read");
    }
}

std::string World::BackToBaseline() const {
    std::optional<ProcessMetrics> now;
    const bool back = WaitUntil(
        [&] {
            now = ReadProcessMetrics(HostPid());
            return now && baseline_ && now->threads <= baseline_->threads &&
                   now->descriptors <= baseline_->descriptors;
        },
        kPatience);
    std::ostringstream text;
    if (!back && now && baseline_) {
        PrintTo(*now, &text);
        text << " against ";
        PrintTo(*baseline_, &text);
    }
    return back ? "" : "the host holds more than at its baseline: " + text.str();
}

long World::ResidentGrowthKiB() const {
    const auto now = ReadProcessMetrics(HostPid());
    return now && baseline_
               ? static_cast<long>(now->residentKiB) - static_cast<long>(baseline_->residentKiB)
               : 0;
}

bool IsData(const nlohmann::json& event) {
    return event.value("event", "") == "data";
}

bool IsEnded(const nlohmann::json& event) {
    return event.value("event", "") == "ended";
}

EventTest IsState(std::uint32_t state) {
    return [state](const nlohmann::json& event) {
        return event.value("event", "") == "state" && event.value("state", ~0u) == state;
    };
}

SensorSession::SensorSession(const World& world, const std::string& name)
    : world_(world),
      output_(NextOutputFile(world.Folder(), name)),
      process_(world.Start({"watch", "--json"}, output_)) {
    if (!process_) {
        throw std::runtime_error("zntr watch cannot start");
    }
}

const std::vector<nlohmann::json>& SensorSession::Events() const {
    const std::string text = ReadTextFile(output_);
    for (std::size_t end = text.find('\n', parsed_); end != std::string::npos;
         end = text.find('\n', parsed_)) {
        const std::string line = text.substr(parsed_, end - parsed_);
        parsed_ = end + 1;
        if (line.starts_with('{')) {  // error messages share the file
            events_.push_back(nlohmann::json::parse(line));
        }
    }
    return events_;
}

int SensorSession::Count(const EventTest& test) const {
    const std::vector<nlohmann::json>& events = Events();
    return static_cast<int>(std::count_if(events.begin(), events.end(), test));
}

bool SensorSession::WaitFor(const EventTest& test, int count) const {
    WaitUntil([&] { return Count(test) >= count || process_->Exited(); }, kPatience);
    return Count(test) >= count;
}

bool SensorSession::WaitForSubscribed() const {
    return WaitFor([](const nlohmann::json& event) { return event.value("current", false); });
}

int SensorSession::PositionsOnTheDrive() const {
    return Count([this](const nlohmann::json& event) { return world_.Track().Matches(event); });
}

bool SensorSession::WaitForPositionOnTheDrive(int after) const {
    return WaitFor([this](const nlohmann::json& event) { return world_.Track().Matches(event); },
                   after + 1);
}

int SensorSession::Leave() {
    return process_->InterruptAndWait(kPatience);
}

void SensorSession::Kill() {
    ::kill(process_->pid(), SIGKILL);
    WaitUntil([&] { return process_->Exited(); }, kPatience);
}

RawConnection::RawConnection(const std::string& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof(address.sun_path) - 1);
    Connect(AF_UNIX, &address, sizeof(address));
}

RawConnection::RawConnection(int loopbackPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(loopbackPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Connect(AF_INET, &address, sizeof(address));
}

void RawConnection::Connect(int family, const void* address, unsigned length) {
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd_, static_cast<const sockaddr*>(address), length) != 0) {
        Close();
        throw std::runtime_error(std::string("cannot connect: ") + std::strerror(errno));
    }
}

void RawConnection::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

long RawConnection::Send(std::string_view bytes, bool all) {
    std::size_t sent = 0;
    do {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent,
                                 MSG_NOSIGNAL | (all ? 0 : MSG_DONTWAIT));
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return -1;
        }
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    } while (all && sent < bytes.size());
    return static_cast<long>(sent);
}

void RawConnection::Fill(std::size_t count, std::chrono::steady_clock::time_point deadline) {
    char buffer[65536];
    while (pending_.size() < count && !closed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            return;
        }
        const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT);
        closed_ = n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);  // a close or a reset
        pending_.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
}

std::string RawConnection::Receive(std::size_t count, std::chrono::milliseconds timeout) {
    Fill(count, std::chrono::steady_clock::now() + timeout);
    std::string bytes = pending_.substr(0, count);
    pending_.erase(0, bytes.size());
    return bytes;
}

std::string RawConnection::ReadFrame() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    Fill(4, deadline);
    std::size_t length = 0;
    for (std::size_t i = 0; i < 4 && pending_.size() >= 4; ++i) {
        length |= std::size_t{static_cast<std::uint8_t>(pending_[i])} << (8 * i);
    }
    Fill(4 + length, deadline);
    return pending_.size() >= 4 + length ? Receive(4 + length, 0ms).substr(4) : std::string();
}

bool RawConnection::WaitForClose() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!closed_ && std::chrono::steady_clock::now() < deadline) {
        pending_.clear();
        Fill(1 << 20, deadline);
    }
    return closed_;
}

}  // namespace zntr::test
