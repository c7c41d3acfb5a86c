// The soak itself: a host child process with the real driver module, the hotspot in this
// process, and a random but reproducible schedule of clients coming and going, raw readers,
// power and Plug and Play commands and hotspot faults. Every check period it checks the feed,
// the events and the host's threads, descriptors and resident memory against what the driver
// is specified to do, and prints one line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host_process.h"
#include "loopback_tools.h"
#include "process_metrics.h"
#include "soak_clients.h"
#include "soak_hotspot.h"

namespace zntr::soak {

struct SoakOptions {
    double minutes = 60.0;
    double checkEverySeconds = 60.0;
    std::uint32_t seed = 0;
    std::string logFile;           // every action and check, with times; empty: none
    double rssToleranceMiB = 2.0;  // resident memory allowed above the baseline
    int threadTolerance = 3;       // host threads allowed above the baseline
    int descriptorTolerance = 1;   // host descriptors allowed above the baseline
    std::string zntr;              // the zntr executable (host, power, pnp)
};

class SoakRun {
  public:
    explicit SoakRun(SoakOptions options);
    ~SoakRun();
    SoakRun(const SoakRun&) = delete;
    SoakRun& operator=(const SoakRun&) = delete;

    // Runs the whole soak; 0 when every check held, 1 after the first one that did not.
    int Run();

  private:
    using Clock = std::chrono::steady_clock;

    // The feed of the sensor as the driver specifies it: started by the connect that makes
    // the first client, ended by the disconnect of the last; a hotspot that closes the stream
    // (or restarts) leaves it dead without a reconnection until every client has gone.
    enum class Feed { kIdle, kLive, kDead };

    struct Session {
        int id = 0;
        std::unique_ptr<SensorSession> sensor;
        std::int64_t leaveAtStep = 0;
        bool countsThisPeriod = false;  // present when the period began
        std::int64_t dataAtPeriodStart = 0;
    };

    struct Raw {
        std::unique_ptr<RawReader> reader;
        bool live = false;  // its stream runs at the current hotspot
        // A sensor client left while it read: its stream may be restarting, and an open in
        // between would be accepted, so no open is tried against it any more.
        bool disturbed = false;
        Clock::time_point since;
        std::int64_t leaveAtStep = 0;
    };

    struct HostFigures {
        std::int64_t threads = 0;      // less the receive threads the model accounts for
        std::int64_t descriptors = 0;  // less the files and feed sockets the model accounts for
        double residentMiB = 0.0;
        test::ProcessMetrics raw;
    };

    // Actions; each throws Failure when the system does something it should not.
    void Step();
    void Connect(bool subscribe);
    void ProbeRefusedOpen();
    void Leave(std::size_t index);
    void StartRaw();
    void StopRaw();
    void Power();
    void Pnp();
    void RebootHotspot();
    void CloseAfterEpisode();

    // The check of one period; throws Failure.
    void Check();
    void CheckFeed();
    void SettleRawRestarts();
    std::string CheckEvents();
    std::string CheckHost();
    void StartPeriod();
    void FinalRemoval();

    int ExpectedOpenStreams() const;
    void WaitForStreams(const std::string& what);
    std::optional<HostFigures> ReadHostFigures() const;
    void RunZntr(const std::vector<std::string>& words);
    void OpenWithRetry(const std::function<void()>& open);
    std::string FeedText() const;
    std::string Stamp() const;
    void Note(const std::string& text);
    void Say(const std::string& text);
    static std::int64_t StepsFor(double seconds);
    double Uniform(double low, double high);
    bool Chance(double probability);

    SoakOptions options_;
    std::mt19937 random_;
    std::FILE* log_ = nullptr;
    test::TempFolder folder_;
    SoakHotspot hotspot_;
    std::unique_ptr<tools::HostProcess> host_;
    Clock::time_point start_;

    std::vector<Session> sessions_;
    std::optional<Raw> raw_;
    Feed feed_ = Feed::kIdle;
    int feedChanges_ = 0;  // counts every change of feed_, to tell a feed that stayed up
    int expectedAccepted_ = 0;
    // Stream connections the hotspot may have accepted beyond expectedAccepted_: every file's
    // cleanup signals the queue's stop event, so a sensor client that leaves while a raw reader
    // streams may end that stream, and the reader's next read starts a new one (or the read
    // resets the event first and the stream goes on).
    int acceptAllowance_ = 0;
    bool awake_ = true;
    bool draining_ = false;  // after a hotspot reboot: clients leave, none come, until none is left
    Clock::time_point lastRawClosed_{};
    std::int64_t step_ = 0;  // actions taken so far
    std::int64_t nextFaultStep_ = 0;
    int nextSessionId_ = 1;

    int checks_ = 0;
    Clock::time_point periodStart_;
    int feedChangesAtPeriodStart_ = 0;
    Feed feedAtPeriodStart_ = Feed::kIdle;
    std::optional<HostFigures> baseline_;
    double peakResidentMiB_ = 0.0;
    int eventChecks_ = 0;

    struct Counts {
        int connects = 0, refusedProbes = 0, gracefulLeaves = 0, abruptLeaves = 0, rawReaders = 0,
            power = 0, pnp = 0, closeAfterEpisodes = 0;
    } counts_;
};

}  // namespace zntr::soak
