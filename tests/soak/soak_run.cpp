#include "soak_run.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "device_error.h"
#include "sensor_client.h"
#include "wait_until.h"

namespace zntr::soak {
namespace {

using namespace std::chrono_literals;
using zntr::test::WaitUntil;

// What the system did that it should not have; ends the soak with exit status 1.
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Waits are generous: the host may run under a sanitizer on a loaded two-core machine.
constexpr auto kStreamWait = 30s;
constexpr auto kSettleWait = 15s;
constexpr auto kRefusalGrace = 15s;  // a raw stream may take this long to end after its close
// Lifetimes and the time to the next fault are counted in steps, not read off the clock, so
// that a seed gives the same sequence of actions however fast the machine is. A step is a
// pause of one to four seconds and an action.
constexpr double kMeanStepSeconds = 3.0;
// Checks before the baseline of the host's figures is taken.
constexpr int kWarmUpChecks = 2;

// Whether the process still runs: present in /proc and not a zombie.
bool Running(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return false;
    }
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
           text[close + 2] != 'X';
}

std::string Tail(const std::string& text, int lines) {
    std::size_t at = text.size();
    while (lines-- > 0 && at > 0) {
        at = text.rfind('\n', at - 1);
        if (at == std::string::npos) {
            return text;
        }
    }
    return text.substr(at + 1);
}

std::string Fixed(double value, int decimals) {
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(decimals);
    out << value;
    return out.str();
}

std::string Signed(std::int64_t value) {
    return (value >= 0 ? "+" : "") + std::to_string(value);
}

}  // namespace

SoakRun::SoakRun(SoakOptions options) : options_(std::move(options)), random_(options_.seed) {
    if (!options_.logFile.empty()) {
        log_ = std::fopen(options_.logFile.c_str(), "w");
        if (log_ == nullptr) {
            throw std::runtime_error("cannot write " + options_.logFile);
        }
    }
    tools::HostProcessOptions host;
    host.program = options_.zntr;
    host.folder = folder_.path();
    host.networkMap = hotspot_.NetworkMap();
    host.readyTimeout = 60s;
    host_ = tools::HostProcess::Start(host);
    start_ = Clock::now();
}

SoakRun::~SoakRun() {
    raw_.reset();
    sessions_.clear();
    host_.reset();
    if (log_ != nullptr) {
        std::fclose(log_);
    }
}

int SoakRun::Run() {
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options_.checkEverySeconds));
    const auto end = start_ + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(options_.minutes * 60.0));
    Say("zntr_soak: seed " + std::to_string(options_.seed) + ", " + Fixed(options_.minutes, 1) +
        " minutes, a check every " + Fixed(options_.checkEverySeconds, 0) + " s; host pid " +
        std::to_string(host_->Pid()) +
        "; hotspot at 127.0.0.1:" + std::to_string(hotspot_.HttpPort()) +
        " (stream :" + std::to_string(hotspot_.StreamPort()) + ", 1 epoch/s)");
    StartPeriod();
    nextFaultStep_ = StepsFor(options_.checkEverySeconds * Uniform(1.5, 3.0));
    auto nextCheck = start_ + period;
    try {
        for (;;) {
            if (Clock::now() >= nextCheck) {
                Check();
                nextCheck = std::max(nextCheck + period, Clock::now() + period / 2);
                if (Clock::now() >= end) {
                    break;
                }
            }
            if (Clock::now() >= end) {
                Check();
                break;
            }
            Step();
            ++step_;
            const auto pause = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(Uniform(1.0, 4.0)));
            std::this_thread::sleep_until(std::min({Clock::now() + pause, nextCheck, end}));
        }
        FinalRemoval();
    } catch (const std::exception& failure) {
        Say(failure.what());
        if (host_) {
            Say("host output (last lines):\n" + Tail(host_->Output(), 20));
        }
        Say("zntr_soak: FAILED (seed " + std::to_string(options_.seed) + ")");
        return 1;
    }
    Say("zntr_soak: passed: " + std::to_string(checks_) + " checks, " +
        std::to_string(eventChecks_) + " subscriber periods with events; " +
        std::to_string(counts_.connects) + " connects, " + std::to_string(counts_.gracefulLeaves) +
        " graceful and " + std::to_string(counts_.abruptLeaves) + " abrupt leaves, " +
        std::to_string(counts_.rawReaders) + " raw readers, " +
        std::to_string(counts_.refusedProbes) + " opens refused while the raw stream ran, " +
        std::to_string(counts_.power) + " power and " + std::to_string(counts_.pnp) +
        " pnp commands, " + std::to_string(hotspot_.reboots()) + " hotspot reboots (" +
        std::to_string(counts_.closeAfterEpisodes) + " with streams closed)");
    return 0;
}

void SoakRun::Step() {
    try {
        if (!Running(host_->Pid())) {
            throw Failure("the host has ended");
        }
        if (draining_) {
            if (raw_) {
                StopRaw();
            } else if (!sessions_.empty()) {
                Leave(std::uniform_int_distribution<std::size_t>(0, sessions_.size() - 1)(random_));
            }
            draining_ = raw_.has_value() || !sessions_.empty();
            return;
        }
        if (step_ >= nextFaultStep_) {
            nextFaultStep_ = step_ + StepsFor(options_.checkEverySeconds * Uniform(2.0, 5.0));
            if (Chance(0.25)) {
                CloseAfterEpisode();
            } else {
                RebootHotspot();
            }
            return;
        }
        if (raw_ && step_ >= raw_->leaveAtStep) {
            StopRaw();
            return;
        }
        for (std::size_t i = 0; i < sessions_.size(); ++i) {
            if (step_ >= sessions_[i].leaveAtStep) {
                Leave(i);
                return;
            }
        }
        if (sessions_.empty() && !raw_) {
            Connect(true);
            return;
        }
        // Weights: connect 3, raw reader 1, power 1, Plug and Play 1, a quiet moment 2.
        const int pick = std::uniform_int_distribution<int>(0, 7)(random_);
        if (pick < 3) {
            if (raw_) {
                if (!raw_->disturbed) {
                    ProbeRefusedOpen();
                }
            } else if (sessions_.size() < 5) {
                Connect(Chance(0.8));
            }
        } else if (pick == 3) {
            if (!raw_) {
                StartRaw();
            }
        } else if (pick == 4) {
            Power();
        } else if (pick == 5) {
            Pnp();
        }
    } catch (const Failure& failure) {
        throw Failure(Stamp() + " action FAILED: " + failure.what() + " [" + FeedText() + "]");
    } catch (const std::exception& error) {
        throw Failure(Stamp() + " action FAILED: " + error.what() + " [" + FeedText() + "]");
    }
}

void SoakRun::OpenWithRetry(const std::function<void()>& open) {
    for (;;) {
        try {
            open();
            return;
        } catch (const client::DeviceError& error) {
            // After a raw reader's close its stream takes a moment to end; until it has, the
            // driver refuses opens, as it should.
            const bool refused = error.GetKind() == client::DeviceError::Kind::kOpenRefused &&
                                 error.Status() == STG_E_ACCESSDENIED;
            if (!refused || raw_ || Clock::now() - lastRawClosed_ > kRefusalGrace) {
                throw Failure(std::string("an open failed: ") + error.what());
            }
            std::this_thread::sleep_for(200ms);
        }
    }
}

void SoakRun::Connect(bool subscribe) {
    Session session;
    session.id = nextSessionId_++;
    OpenWithRetry(
        [&] { session.sensor = std::make_unique<SensorSession>(host_->SocketPath(), subscribe); });
    session.leaveAtStep = step_ + StepsFor(options_.checkEverySeconds * Uniform(0.5, 4.0));
    const bool first = sessions_.empty();
    sessions_.push_back(std::move(session));
    ++counts_.connects;
    Note("client #" + std::to_string(sessions_.back().id) + " connects" +
         (subscribe ? " and subscribes" : " without subscribing"));
    if (first) {
        feed_ = Feed::kLive;
        ++feedChanges_;
        ++expectedAccepted_;
        WaitForStreams("the first client's connect starts the feed");
    }
}

void SoakRun::ProbeRefusedOpen() {
    try {
        const auto file = client::DeviceFile::Open(host_->SocketPath());
    } catch (const client::DeviceError& error) {
        if (error.GetKind() != client::DeviceError::Kind::kOpenRefused ||
            error.Status() != STG_E_ACCESSDENIED) {
            throw Failure(std::string("an open while the raw stream runs failed otherwise than "
                                      "refused with STG_E_ACCESSDENIED: ") +
                          error.what());
        }
        ++counts_.refusedProbes;
        Note("an open while the raw stream runs is refused");
        return;
    }
    throw Failure("an open while the raw stream runs was accepted");
}

void SoakRun::Leave(std::size_t index) {
    Session& session = sessions_[index];
    const bool graceful = Chance(0.6);
    try {
        session.sensor->Leave(graceful);
    } catch (const client::SensorError& error) {
        throw Failure("client #" + std::to_string(session.id) +
                      " could not leave: " + error.what());
    }
    ++(graceful ? counts_.gracefulLeaves : counts_.abruptLeaves);
    Note("client #" + std::to_string(session.id) + " leaves " +
         (!graceful                      ? "(closes its file only)"
          : session.sensor->subscribed() ? "(unsubscribe, disconnect, close)"
                                         : "(disconnect, close)") +
         " after " + std::to_string(session.sensor->DataEvents()) + " data events");
    if (raw_) {
        ++acceptAllowance_;
        raw_->disturbed = true;
        Note("  (its file's cleanup signals the queue's stop event: the raw stream may restart)");
    }
    sessions_.erase(sessions_.begin() + static_cast<std::ptrdiff_t>(index));
    if (sessions_.empty() && feed_ != Feed::kIdle) {
        feed_ = Feed::kIdle;
        ++feedChanges_;
    }
}

void SoakRun::StartRaw() {
    Raw raw;
    OpenWithRetry([&] { raw.reader = std::make_unique<RawReader>(host_->SocketPath()); });
    raw.live = true;
    raw_ = std::move(raw);
    ++expectedAccepted_;
    ++counts_.rawReaders;
    Note("a raw reader opens the device and reads");
    WaitForStreams("a raw reader's first read starts its stream");
    raw_->since = Clock::now();
    raw_->leaveAtStep = step_ + StepsFor(Uniform(5.0, 25.0));
}

void SoakRun::StopRaw() {
    const auto streamed = Clock::now() - raw_->since;
    const std::int64_t bytes = raw_->reader->Bytes();
    if (raw_->reader->FailedReads() > 0) {
        throw Failure("a raw read failed while the file was open");
    }
    if (raw_->live && streamed >= 5s && bytes == 0) {
        throw Failure(
            "the raw reader got no byte in " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(streamed).count()) +
            " s of a running stream");
    }
    raw_.reset();
    lastRawClosed_ = Clock::now();
    Note("the raw reader closes after " + std::to_string(bytes) + " bytes");
}

void SoakRun::Power() {
    if (awake_) {
        const std::string verb = Chance(0.5) ? "sleep" : "hibernate";
        RunZntr({"power", verb});
        awake_ = false;
        Note("zntr power " + verb);
    } else {
        RunZntr({"power", "wake"});
        awake_ = true;
        Note("zntr power wake");
    }
    ++counts_.power;
}

void SoakRun::Pnp() {
    const std::string verb = Chance(0.5) ? "query-remove" : "query-stop";
    RunZntr({"pnp", verb});
    ++counts_.pnp;
    Note("zntr pnp " + verb);
}

void SoakRun::RebootHotspot() {
    static constexpr StreamFault kFaults[] = {StreamFault::kNone, StreamFault::kGarbage,
                                              StreamFault::kBadChecksums, StreamFault::kSplit};
    const StreamFault fault =
        kFaults[std::uniform_int_distribution<std::size_t>(0, std::size(kFaults) - 1)(random_)];
    hotspot_.Reboot(fault, static_cast<std::uint32_t>(random_()));
    // The driver does not notice a closed stream and never reconnects: the feed stays dead
    // until every client has left.
    if (feed_ == Feed::kLive) {
        feed_ = Feed::kDead;
        ++feedChanges_;
    }
    Note(std::string("the hotspot reboots, now ") + NameOf(fault));
    // A raw reader whose stream died gives up.
    if (raw_) {
        StopRaw();
    }
    draining_ = !sessions_.empty();
}

void SoakRun::CloseAfterEpisode() {
    hotspot_.Reboot(StreamFault::kCloseAfter, static_cast<std::uint32_t>(random_()));
    Note("the hotspot reboots, now closing each stream after " +
         std::to_string(SoakHotspot::kCloseAfterSentences) + " sentences");
    if (feed_ == Feed::kLive) {
        feed_ = Feed::kDead;
        ++feedChanges_;
    }
    if (raw_) {
        StopRaw();
    }
    while (!sessions_.empty()) {
        Leave(sessions_.size() - 1);
    }
    // The count of accepted streams must be exact for what follows.
    WaitForStreams("the drained feed");
    SettleRawRestarts();
    Session session;
    session.id = nextSessionId_++;
    OpenWithRetry(
        [&] { session.sensor = std::make_unique<SensorSession>(host_->SocketPath(), true); });
    session.leaveAtStep = step_ + StepsFor(600.0);  // it leaves in the drain below
    sessions_.push_back(std::move(session));
    ++counts_.connects;
    ++expectedAccepted_;
    if (!WaitUntil([&] { return hotspot_.AcceptedStreams() == expectedAccepted_; }, kStreamWait)) {
        throw Failure(
            "the first client's connect started no feed at a hotspot that closes streams");
    }
    feed_ = Feed::kDead;
    ++feedChanges_;
    WaitForStreams("the hotspot closes the stream, and the driver does not connect again");
    Note("client #" + std::to_string(sessions_.back().id) +
         " stays connected to a feed the hotspot closed");
    hotspot_.Reboot(StreamFault::kNone, static_cast<std::uint32_t>(random_()));
    Note("the hotspot reboots, now clean");
    draining_ = true;
    ++counts_.closeAfterEpisodes;
}

void SoakRun::RunZntr(const std::vector<std::string>& words) {
    std::vector<std::string> argv{options_.zntr};
    argv.insert(argv.end(), words.begin(), words.end());
    argv.insert(argv.end(), {"--socket", host_->SocketPath()});
    const std::string output = folder_.path() + "/command.out";
    const auto process = test::ChildProcess::Start(argv, output);
    std::string line;
    for (const auto& word : words) {
        line += " " + word;
    }
    if (!process) {
        throw Failure("zntr" + line + " could not start");
    }
    WaitUntil([&] { return process->Exited(); }, 60s);
    const int status = process->InterruptAndWait(1s);
    if (status != 0) {
        std::ifstream in(output);
        std::ostringstream text;
        text << in.rdbuf();
        throw Failure("zntr" + line + " exited with " + std::to_string(status) + ": " + text.str());
    }
}

int SoakRun::ExpectedOpenStreams() const {
    const int sensor = !sessions_.empty() && feed_ == Feed::kLive ? 1 : 0;
    const int raw = raw_ && raw_->live ? 1 : 0;
    return sensor + raw;
}

void SoakRun::WaitForStreams(const std::string& what) {
    const bool held = WaitUntil(
        [&] {
            const int accepted = hotspot_.AcceptedStreams();
            return accepted >= expectedAccepted_ &&
                   accepted <= expectedAccepted_ + acceptAllowance_ &&
                   hotspot_.OpenStreams() == ExpectedOpenStreams();
        },
        kStreamWait);
    if (!held) {
        throw Failure(what + ": the hotspot has " + std::to_string(hotspot_.OpenStreams()) +
                      " stream(s) open and accepted " + std::to_string(hotspot_.AcceptedStreams()) +
                      "; expected " + std::to_string(ExpectedOpenStreams()) + " open and " +
                      std::to_string(expectedAccepted_) +
                      (acceptAllowance_ > 0
                           ? " to " + std::to_string(expectedAccepted_ + acceptAllowance_)
                           : std::string()) +
                      " accepted");
    }
}

std::string SoakRun::FeedText() const {
    const char* feed = feed_ == Feed::kLive ? "live" : feed_ == Feed::kDead ? "dead" : "idle";
    return std::to_string(sessions_.size()) + " clients, feed " + feed + ", raw " +
           (raw_ ? (raw_->live ? "live" : "dead") : "off") + ", " + (awake_ ? "awake" : "asleep") +
           ", hotspot " + NameOf(hotspot_.fault());
}

void SoakRun::Check() {
    ++checks_;
    try {
        if (!Running(host_->Pid())) {
            throw Failure("the host has ended");
        }
        CheckFeed();
        const std::string events = CheckEvents();
        const std::string host = CheckHost();
        Say(Stamp() + " check " + std::to_string(checks_) + " ok | streams " +
            std::to_string(hotspot_.OpenStreams()) + " (" + FeedText() + ") | " + events + " | " +
            host);
    } catch (const std::exception& failure) {
        throw Failure(Stamp() + " check " + std::to_string(checks_) + " FAILED: " + failure.what() +
                      " [" + FeedText() + "]");
    }
    StartPeriod();
}

void SoakRun::CheckFeed() {
    WaitForStreams("feed");
    if (!raw_ && Clock::now() - lastRawClosed_ > kRefusalGrace) {
        SettleRawRestarts();
    }
}

void SoakRun::SettleRawRestarts() {
    // Once no raw stream runs or ends, the restarts it may have had are known: the hotspot's
    // count, which WaitForStreams found within the allowance.
    std::this_thread::sleep_until(lastRawClosed_ + kRefusalGrace);
    expectedAccepted_ = hotspot_.AcceptedStreams();
    acceptAllowance_ = 0;
}

std::string SoakRun::CheckEvents() {
    const bool feedStayedLive = feedAtPeriodStart_ == Feed::kLive && feed_ == Feed::kLive &&
                                feedChanges_ == feedChangesAtPeriodStart_;
    int checked = 0;
    std::int64_t fewest = -1;
    for (const Session& session : sessions_) {
        if (session.sensor->subscribed() && session.sensor->Ended()) {
            throw Failure("client #" + std::to_string(session.id) +
                          "'s events ended while it was connected");
        }
        if (!feedStayedLive || !session.countsThisPeriod || !session.sensor->subscribed()) {
            continue;
        }
        const std::int64_t got = session.sensor->DataEvents() - session.dataAtPeriodStart;
        if (got == 0) {
            throw Failure("subscribed client #" + std::to_string(session.id) +
                          " got no data event in the period while the feed ran");
        }
        ++checked;
        fewest = fewest < 0 ? got : std::min(fewest, got);
    }
    eventChecks_ += checked;
    if (checked == 0) {
        return feedStayedLive ? "events: no subscriber over the whole period"
                              : "events: feed not live over the whole period";
    }
    return "events: " + std::to_string(checked) + " subscribers, fewest " + std::to_string(fewest);
}

std::optional<SoakRun::HostFigures> SoakRun::ReadHostFigures() const {
    const auto metrics = test::ReadProcessMetrics(host_->Pid());
    if (!metrics) {
        return std::nullopt;
    }
    // A sensor client's file is one socket at the host. The sensor's receive thread stays while
    // any client is connected (a dead feed keeps it too), and a raw reader's file has the
    // queue's; each such thread holds its stream socket and its thread's wake descriptor.
    const std::int64_t sensorFeed = sessions_.empty() ? 0 : 1;
    const std::int64_t rawFeed = raw_ ? 1 : 0;
    const auto files = static_cast<std::int64_t>(sessions_.size()) + rawFeed;
    HostFigures figures;
    figures.raw = *metrics;
    figures.threads = static_cast<std::int64_t>(metrics->threads) - sensorFeed - rawFeed;
    figures.descriptors =
        static_cast<std::int64_t>(metrics->descriptors) - files - 2 * (sensorFeed + rawFeed);
    figures.residentMiB = static_cast<double>(metrics->residentKiB) / 1024.0;
    return figures;
}

std::string SoakRun::CheckHost() {
    std::optional<HostFigures> figures;
    if (checks_ < kWarmUpChecks) {
        // Warm-up: the host's worker pool grows to the concurrency the schedule brings.
        figures = ReadHostFigures();
        if (!figures) {
            throw Failure("the host's figures cannot be read");
        }
        return "host: " + std::to_string(figures->raw.threads) + " threads, " +
               std::to_string(figures->raw.descriptors) + " fds, " +
               Fixed(figures->residentMiB, 1) + " MiB resident (warm-up)";
    }
    if (!baseline_) {
        // The baseline, after the warm-up: two readings in a row that agree.
        std::optional<HostFigures> previous;
        WaitUntil(
            [&] {
                previous = figures;
                std::this_thread::sleep_for(500ms);
                figures = ReadHostFigures();
                return figures && previous && figures->threads == previous->threads &&
                       figures->descriptors == previous->descriptors;
            },
            kSettleWait);
        if (!figures) {
            throw Failure("the host's figures cannot be read");
        }
        baseline_ = figures;
        peakResidentMiB_ = figures->residentMiB;
        return "host: " + std::to_string(figures->raw.threads) + " threads, " +
               std::to_string(figures->raw.descriptors) + " fds, " +
               Fixed(figures->residentMiB, 1) + " MiB resident (baseline)";
    }
    const auto within = [&](const HostFigures& now) {
        return now.threads <= baseline_->threads + options_.threadTolerance &&
               now.descriptors <= baseline_->descriptors + options_.descriptorTolerance &&
               now.residentMiB <= baseline_->residentMiB + options_.rssToleranceMiB;
    };
    // Closed files and ended streams are cleaned up a moment later; give them that moment.
    WaitUntil(
        [&] {
            figures = ReadHostFigures();
            return figures && within(*figures);
        },
        kSettleWait);
    if (!figures) {
        throw Failure("the host's figures cannot be read");
    }
    peakResidentMiB_ = std::max(peakResidentMiB_, figures->residentMiB);
    const std::string text = "host: " + std::to_string(figures->raw.threads) + " threads (" +
                             Signed(figures->threads - baseline_->threads) + "), " +
                             std::to_string(figures->raw.descriptors) + " fds (" +
                             Signed(figures->descriptors - baseline_->descriptors) + "), " +
                             Fixed(figures->residentMiB, 1) + " MiB resident (" +
                             (figures->residentMiB >= baseline_->residentMiB ? "+" : "") +
                             Fixed(figures->residentMiB - baseline_->residentMiB, 1) + ")";
    if (!within(*figures)) {
        throw Failure("the host grew beyond the baseline (tolerance " +
                      std::to_string(options_.threadTolerance) + " threads, " +
                      std::to_string(options_.descriptorTolerance) + " descriptors, " +
                      Fixed(options_.rssToleranceMiB, 1) + " MiB, counted less the clients' " +
                      "files and the feeds): " + text);
    }
    return text;
}

void SoakRun::StartPeriod() {
    periodStart_ = Clock::now();
    feedChangesAtPeriodStart_ = feedChanges_;
    feedAtPeriodStart_ = feed_;
    for (Session& session : sessions_) {
        session.countsThisPeriod = true;
        session.dataAtPeriodStart = session.sensor->DataEvents();
    }
}

void SoakRun::FinalRemoval() {
    try {
        if (raw_) {
            StopRaw();
        }
        // A fresh feed with one subscriber that has seen data, then the device goes.
        while (!sessions_.empty()) {
            Leave(sessions_.size() - 1);
        }
        Connect(true);
        if (!WaitUntil([&] { return sessions_.back().sensor->DataEvents() > 0; }, kStreamWait)) {
            throw Failure("a new subscriber got no data event");
        }
        RunZntr({"pnp", "surprise-remove"});
        if (!WaitUntil([&] { return sessions_.back().sensor->Ended(); }, kStreamWait)) {
            throw Failure("a surprise removal did not end the subscriber's events");
        }
        // The device's release ends the feed before the sensor goes.
        feed_ = Feed::kIdle;
        WaitForStreams("the removed device's feed");
        const std::int64_t data = sessions_.back().sensor->DataEvents();
        sessions_.back().sensor->Leave(false);
        sessions_.clear();
        const auto last = ReadHostFigures();
        const int status = host_->Stop();
        if (status != 0) {
            throw Failure("the host exited with " + std::to_string(status) +
                          " (3: it saw the driver break a rule)");
        }
        Say(Stamp() + " end ok | a surprise removal ended the subscriber's events after " +
            std::to_string(data) + " data events and the feed | host exited 0 | peak " +
            Fixed(peakResidentMiB_, 1) + " MiB resident" +
            (last ? ", " + std::to_string(last->raw.threads) + " threads and " +
                        std::to_string(last->raw.descriptors) + " fds at the end"
                  : ""));
    } catch (const std::exception& failure) {
        throw Failure(Stamp() + " end FAILED: " + failure.what());
    }
}

std::string SoakRun::Stamp() const {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_).count();
    char text[32];
    std::snprintf(text, sizeof(text), "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

void SoakRun::Note(const std::string& text) {
    if (log_ != nullptr) {
        std::fprintf(log_, "%s   %s\n", Stamp().c_str(), text.c_str());
        std::fflush(log_);
    }
}

void SoakRun::Say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    if (log_ != nullptr) {
        std::fprintf(log_, "%s\n", text.c_str());
        std::fflush(log_);
    }
}

std::int64_t SoakRun::StepsFor(double seconds) {
    return std::max<std::int64_t>(1, std::llround(seconds / kMeanStepSeconds));
}

double SoakRun::Uniform(double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random_);
}

bool SoakRun::Chance(double probability) {
    return std::bernoulli_distribution(probability)(random_);
}

}  // namespace zntr::soak
