#include "hostile_fixture.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <utility>
#include <variant>

#include "network_map.h"
#include "standin/sensors.h"
#include "track/synthetic_track.h"

namespace zntr::test {

bool OnTheDrive(double latitude, double longitude) {
    // Every connection streams the drive from its start; an hour of it is more than any test
    // runs.
    static const std::vector<std::pair<double, double>> positions = [] {
        std::vector<std::pair<double, double>> all;
        hotspot::SyntheticTrack track{hotspot::TrackOptions{}};
        for (int i = 0; i < 3600; ++i) {
            const hotspot::Epoch epoch = track.Next();
            if (epoch.has_fix) {
                all.emplace_back(epoch.latitude, epoch.longitude);
            }
        }
        return all;
    }();
    for (const auto& [lat, lon] : positions) {
        if (std::fabs(lat - latitude) <= 1e-5 && std::fabs(lon - longitude) <= 1e-5) {
            return true;
        }
    }
    return false;
}

SensorSession::SensorSession(const std::string& socket)
    : file_(client::DeviceFile::Open(socket)),
      sensor_(std::make_unique<client::SensorClient>(*file_)) {
    sensor_->Connect();
    sensor_->Subscribe(events_.Callback());
}

SensorSession::~SensorSession() {
    sensor_.reset();  // unsubscribes and disconnects; never throws
    file_.reset();
}

std::optional<double> SensorSession::WaitForPositionOnTheDrive(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        const auto event = events_.Next(left);
        if (!event) {
            return std::nullopt;
        }
        if (event->kind == client::SensorEvent::Kind::kEnded) {
            return std::nullopt;
        }
        if (event->kind != client::SensorEvent::Kind::kDataUpdated) {
            continue;
        }
        const auto* latitude = event->Find(SENSOR_DATA_TYPE_LATITUDE_DEGREES);
        const auto* longitude = event->Find(SENSOR_DATA_TYPE_LONGITUDE_DEGREES);
        if (latitude != nullptr && longitude != nullptr &&
            std::holds_alternative<double>(*latitude) &&
            std::holds_alternative<double>(*longitude) &&
            OnTheDrive(std::get<double>(*latitude), std::get<double>(*longitude))) {
            return std::get<double>(*latitude);
        }
    }
}

std::uint32_t SensorSession::State() {
    const PROPERTYKEY keys[] = {SENSOR_PROPERTY_STATE};
    const auto answer = sensor_->GetProperties(keys);
    const auto* state = answer.Find(SENSOR_PROPERTY_STATE);
    if (state == nullptr || !std::holds_alternative<std::uint32_t>(*state)) {
        throw client::SensorError("state", E_UNEXPECTED);
    }
    return std::get<std::uint32_t>(*state);
}

RawConnection::RawConnection(const std::string& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof(address.sun_path) - 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 &&
        ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        Close();
    }
}

RawConnection::~RawConnection() {
    Close();
}

void RawConnection::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool RawConnection::Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

long RawConnection::SendSome(const std::vector<std::uint8_t>& bytes) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    }
    return static_cast<long>(n);
}

bool RawConnection::WaitForClose(std::chrono::milliseconds timeout,
                                 std::vector<std::uint8_t>* received) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buffer[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fd{fd_, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return true;  // an orderly close or a reset
        }
        if (n > 0 && received != nullptr) {
            received->insert(received->end(), buffer, buffer + n);
        }
    }
    return false;
}

std::vector<std::uint8_t> RawConnection::ReadFrame(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buffer[4096];
    for (;;) {
        if (pending_.size() >= 4) {
            const std::uint32_t length = pending_[0] | (pending_[1] << 8) | (pending_[2] << 16) |
                                         (std::uint32_t(pending_[3]) << 24);
            if (pending_.size() >= 4 + std::size_t{length}) {
                std::vector<std::uint8_t> body(pending_.begin() + 4, pending_.begin() + 4 + length);
                pending_.erase(pending_.begin(), pending_.begin() + 4 + length);
                return body;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            return {};
        }
        const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n <= 0) {
            return {};
        }
        pending_.insert(pending_.end(), buffer, buffer + n);
    }
}

std::vector<std::uint8_t> Frame(const std::vector<std::uint8_t>& body) {
    const auto n = static_cast<std::uint32_t>(body.size());
    std::vector<std::uint8_t> frame(4 + body.size());
    for (int i = 0; i < 4; ++i) {
        frame[i] = static_cast<std::uint8_t>(n >> (8 * i));
    }
    std::copy(body.begin(), body.end(), frame.begin() + 4);
    return frame;
}

void HostileTest::TearDown() {
    if (host_) {
        EXPECT_EQ(host_->Stop(), 0) << "the host stops cleanly\n" << host_->Output();
    }
}

void HostileTest::StartSimulator(hotspot::SimulatorOptions options) {
    hotspot_.reset();  // its ports are free again once it has stopped
    options.http_port = httpPort_;
    options.stream_port = streamPort_;
    hotspot_ = std::make_unique<hotspot::HotspotSimulator>(std::move(options));
    httpPort_ = hotspot_->http_port();
    streamPort_ = hotspot_->stream_port();
}

void HostileTest::StartHost() {
    ::unsetenv("ZNTR_ALLOW_LAN");
#if defined(__SANITIZE_ADDRESS__)
    // Freed memory waits in the address sanitizer's quarantine (256 MiB by default) before it is
    // reused, so a host that churns through memory looks as if it kept it. A small quarantine,
    // and the allocator handing free pages back, let its resident memory show what it keeps;
    // the leak check at its exit still sees every block it loses.
    const char* given = std::getenv("ASAN_OPTIONS");
    const std::string asan = std::string(given != nullptr && *given != '\0' ? given : "") +
                             (given != nullptr && *given != '\0' ? ":" : "") +
                             "quarantine_size_mb=8:allocator_release_to_os_interval_ms=100";
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
#endif
    ASSERT_TRUE(hotspot_) << "the simulator comes first: the host's network map leads to it";
    tools::HostProcessOptions options;
    options.program = ZNTR_BINARY;
    options.folder = folder_.path();
    options.networkMap = tools::NetworkMapFor(*hotspot_);
    options.readyTimeout = kPatience;
    host_ = tools::HostProcess::Start(options);
}

bool HostileTest::HostAlive() {
    return host_ && ::kill(host_->Pid(), 0) == 0 && ReadProcessMetrics(host_->Pid()).has_value();
}

bool HostileTest::WaitForFeedToEnd(std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
            return hotspot_->open_stream_connections() == 0 &&
                   hotspot_->open_http_connections() == 0;
        },
        timeout);
}

void HostileTest::WarmUp() {
    {
        SensorSession session(Socket());
        ASSERT_TRUE(session.WaitForPositionOnTheDrive(kPatience)) << HostOutput();
    }
    ASSERT_TRUE(WaitForFeedToEnd()) << "the warm-up's feed ends with its client";
    // A raw reader too, so the queue's side of the driver has run once.
    {
        auto file = client::DeviceFile::Open(Socket());
        const auto read = file->Read(1024);
        EXPECT_EQ(read.status, S_OK);
    }
    ASSERT_TRUE(WaitForFeedToEnd());
    // The framework's idle workers end after a while; the baseline is taken once the host's
    // thread count has held still for three seconds.
    std::size_t threads = 0;
    int stillSamples = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            baseline_ = ReadProcessMetrics(HostPid());
            const std::size_t now = baseline_ ? baseline_->threads : 0;
            stillSamples = now == threads ? stillSamples + 1 : 0;
            threads = now;
            std::this_thread::sleep_for(230ms);
            return baseline_ && stillSamples >= 12;
        },
        kPatience));
}

void HostileTest::ExpectANewClientIsServedAndNothingIsLeft() {
    ASSERT_TRUE(HostAlive()) << HostOutput();
    {
        SensorSession session(Socket());
        const std::uint32_t state = session.State();
        EXPECT_TRUE(state == SENSOR_STATE_READY || state == SENSOR_STATE_NO_DATA ||
                    state == SENSOR_STATE_INITIALIZING)
            << state;
        EXPECT_TRUE(session.WaitForPositionOnTheDrive(kPatience))
            << "a new client gets a position on the drive\n"
            << HostOutput();
        EXPECT_EQ(session.State(), std::uint32_t{SENSOR_STATE_READY});
    }
    EXPECT_TRUE(WaitForFeedToEnd()) << "the feed ends with the last client";
    ExpectBackToBaseline();
}

void HostileTest::ExpectBackToBaseline() {
    ASSERT_TRUE(baseline_) << "WarmUp() takes the baseline";
    std::optional<ProcessMetrics> now;
    const bool settled = WaitUntil(
        [&] {
            now = ReadProcessMetrics(HostPid());
            return now && now->threads <= baseline_->threads &&
                   now->descriptors <= baseline_->descriptors;
        },
        kPatience);
    ASSERT_TRUE(now) << "the host is gone\n" << HostOutput();
    EXPECT_TRUE(settled) << "baseline: " << testing::PrintToString(*baseline_)
                         << "\nnow: " << testing::PrintToString(*now);
    EXPECT_LE(now->threads, baseline_->threads);
    EXPECT_LE(now->descriptors, baseline_->descriptors);
    EXPECT_LE(now->residentKiB, baseline_->residentKiB + kResidentToleranceKiB)
        << "baseline: " << testing::PrintToString(*baseline_)
        << "\nnow: " << testing::PrintToString(*now);
}

}  // namespace zntr::test
