// zntr_soak: the whole system for as long as asked (minutes to hours), checked every period. The
// simulator streams the drive at one epoch a second, a host runs the real driver module, and a
// random but reproducible schedule (--seed) brings sensor clients that come and go, gracefully
// or killed; raw readers, while which every other open is refused; power and Plug and Play
// commands; hotspot restarts under a live feed, with stream faults, and hotspots that close
// each stream. The feed starts with the first client and ends with the last; a stream the
// hotspot drops is never reconnected. Each period ends with a check: every subscriber of a live
// feed got data, then all leave, the feed ends, and the host's threads and descriptors come
// back to their baseline (resident memory within a generous bound). At the end a surprise
// removal must end a subscriber's events and the feed, and the host must stop with status 0.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <random>
#include <stdexcept>
#include <thread>

#include "wait_until.h"
#include "world.h"

namespace zntr::test {
namespace {

using Clock = std::chrono::steady_clock;

struct SoakOptions {
    double minutes = 60.0;
    double checkEvery = 60.0;
    std::uint32_t seed = std::random_device{}();
    std::string log;
};

// The stream faults of a restarted hotspot: none, garbage, bad checksums, sentences cut across
// segments, each stream closed after 40 sentences.
hotspot::SimulatorOptions SoakHotspot(unsigned fault, std::uint32_t seed) {
    hotspot::SimulatorOptions options = World::Simulator(1.0);
    options.record_streams = false;  // hours of it
    options.faults.seed = seed;
    options.faults.garbage_share = fault == 1 ? 0.1 : 0.0;
    options.faults.bad_checksum_share = fault == 2 ? 0.1 : 0.0;
    options.faults.split_segments = fault == 3;
    options.faults.close_after_sentences = fault == 4 ? 40 : 0;
    return options;
}

class Soak {
  public:
    explicit Soak(const SoakOptions& options)
        : options_(options), random_(options.seed), world_(SoakHotspot(0, 0)) {
        log_ = options.log.empty() ? nullptr : std::fopen(options.log.c_str(), "w");
    }
    ~Soak() {
        if (log_ != nullptr) {
            std::fclose(log_);
        }
    }

    int Run() {
        Say("zntr_soak: seed " + std::to_string(options_.seed) + ", " +
            std::to_string(options_.minutes) + " minutes, a check every " +
            std::to_string(options_.checkEvery) + " s; host pid " +
            std::to_string(world_.HostPid()));
        const auto end = start_ + std::chrono::duration<double>(options_.minutes * 60.0);
        try {
            while (Clock::now() < end) {
                const auto check =
                    Clock::now() + std::chrono::duration<double>(options_.checkEvery);
                while (Clock::now() < check) {
                    Step();
                    std::this_thread::sleep_for(std::chrono::milliseconds(500 + random_() % 1500));
                }
                Check();
            }
            Final();
        } catch (const std::exception& failure) {
            Say(Stamp() + " FAILED: " + failure.what() + "\nhost output:\n" + world_.HostOutput());
            Say("zntr_soak: FAILED (seed " + std::to_string(options_.seed) + ")");
            return 1;
        }
        Say("zntr_soak: passed: " + std::to_string(checks_) + " checks, " + std::to_string(step_) +
            " steps");
        return 0;
    }

  private:
    struct Client {
        std::unique_ptr<SensorSession> session;
        int leaveAtStep = 0;
    };

    void Expect(bool condition, const std::string& what) {
        if (!condition) {
            throw std::runtime_error(what);
        }
    }

    // The stream connections the model expects open: the feed's while it has clients and the
    // hotspot has not dropped it, and the raw reader's.
    int Streams() const { return (clients_.empty() || dropped_ ? 0 : 1) + (raw_ ? 1 : 0); }

    void Step() {
        ++step_;
        Expect(world_.HostRuns(), "the host has ended");
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            if (step_ >= clients_[i].leaveAtStep || dropped_) {
                return Leave(i);  // after a drop, all leave before another comes
            }
        }
        if (raw_ && step_ >= rawUntil_) {
            return StopRaw();
        }
        if (step_ >= nextFault_) {
            nextFault_ = step_ + 10 + static_cast<int>(random_() % 30);
            return Fault();
        }
        switch (random_() % 8) {
            case 0:
            case 1:
            case 2:
                if (!raw_ && clients_.size() < 5) {
                    return Connect();
                }
                if (raw_ && !disturbed_) {
                    const CommandResult refused = world_.Run({"get"});
                    Expect(
                        refused.status == 1 && refused.output.find("a raw NMEA stream is "
                                                                   "running") != std::string::npos,
                        "an open while the raw stream runs was not refused: " + refused.output);
                    Note("an open while the raw stream runs is refused");
                }
                return;
            case 3:
                return raw_ ? void() : StartRaw();
            case 4:
                awake_ = !awake_;
                return Command({"power", awake_ ? "wake" : random_() % 2 ? "sleep" : "hibernate"});
            case 5:
                return Command({"pnp", random_() % 2 ? "query-remove" : "query-stop"});
        }
    }

    void Connect(bool checkStreams = true) {
        clients_.push_back({std::make_unique<SensorSession>(world_, "client"),
                            step_ + 2 + static_cast<int>(random_() % 20)});
        Expect(clients_.back().session->WaitForSubscribed(),
               "a client could not subscribe: " + clients_.back().session->Output());
        Note("a client connects and subscribes");
        Expect(!checkStreams || world_.WaitForStreams(Streams()),
               "the first client starts the feed");
    }

    void Leave(std::size_t index) {
        SensorSession& session = *clients_[index].session;
        const bool kill = random_() % 3 == 0;
        if (kill) {
            session.Kill();
        } else {
            Expect(session.Leave() == 0, "a client could not leave: " + session.Output());
        }
        Note(std::string("a client ") + (kill ? "is killed" : "leaves") + " after " +
             std::to_string(session.Count(IsData)) + " data events");
        clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
        // Every file's cleanup signals the queue's stop event: a raw stream may restart, and an
        // open in between is accepted.
        disturbed_ = disturbed_ || raw_ != nullptr;
        if (clients_.empty() && dropped_) {
            Expect(world_.AcceptedStreams() == acceptedAtDrop_,
                   "the driver connected again to a hotspot that dropped its stream");
            dropped_ = false;
        }
        Expect(world_.WaitForStreams(Streams()), "the feed ends with the last client");
    }

    void StartRaw() {
        rawOutput_ = world_.Folder() + "/raw.out";
        raw_ = world_.Start({"cat"}, rawOutput_);
        rawUntil_ = step_ + 2 + static_cast<int>(random_() % 8);
        disturbed_ = false;
        Note("a raw reader reads");
        Expect(world_.WaitForStreams(Streams()), "a raw reader's read starts its stream");
    }

    void StopRaw() {
        Expect(WaitUntil([&] { return ReadTextFile(rawOutput_).starts_with('$'); }, kPatience),
               "a raw reader got no sentence: " + ReadTextFile(rawOutput_));
        Expect(raw_->InterruptAndWait(kPatience) == 0, "zntr cat did not end in order");
        raw_.reset();
        Note("the raw reader closes");
        Expect(world_.WaitForStreams(Streams()), "a raw reader's stream ends with it");
        Expect(world_.WaitForOpensAccepted(), "opens are refused after the raw stream");
    }

    void Command(const std::vector<std::string>& words) {
        const CommandResult result = world_.Run(words);
        Expect(result.status == 0, "zntr " + words[0] + " " + words[1] + ": " + result.output);
        Note("zntr " + words[0] + " " + words[1]);
    }

    // The hotspot restarts under a live feed: the driver does not notice and never connects
    // again while its clients stay. A hotspot that closes each stream does the same to the
    // feed a client starts.
    void Fault() {
        const unsigned fault = random_() % 5;
        int accepted = world_.AcceptedStreams();
        if (raw_) {
            StopRaw();
        }
        if (fault == 4) {
            Quiet();
            world_.RestartHotspot(SoakHotspot(4, random_()));
            accepted = world_.AcceptedStreams() + 1;
            Connect(false);
            Expect(WaitUntil(
                       [&] {
                           return world_.AcceptedStreams() == accepted &&
                                  world_.Hotspot().open_stream_connections() == 0;
                       },
                       kPatience),
                   "the hotspot did not close the feed's stream");
        }
        world_.RestartHotspot(SoakHotspot(fault % 4, random_()));
        dropped_ = !clients_.empty();
        acceptedAtDrop_ = fault == 4 ? accepted : world_.AcceptedStreams();
        Note("the hotspot restarts with fault " + std::to_string(fault));
    }

    void Quiet() {
        if (raw_) {
            StopRaw();
        }
        while (!clients_.empty()) {
            Leave(clients_.size() - 1);
        }
        Expect(world_.WaitForFeedToEnd(), "the feed did not end with the last client");
    }

    void Check() {
        ++checks_;
        for (Client& client : clients_) {
            Expect(!client.session->Ended(), "a client's events ended while it was connected");
            Expect(dropped_ || client.session->WaitFor(IsData),
                   "a subscriber of a live feed got no data: " + client.session->Output());
        }
        Expect(world_.WaitForStreams(Streams()), "the feed is not what its clients make");
        Quiet();
        std::string host = "baseline taken";
        if (checks_ == 1) {
            world_.TakeBaseline();
        } else {
            host = world_.BackToBaseline();
            Expect(host.empty(), host);
            Expect(kSanitized || world_.ResidentGrowthKiB() <= 64 * 1024,
                   "the host's resident memory grew by " +
                       std::to_string(world_.ResidentGrowthKiB()) + " KiB");
            host = "back at the baseline (resident " + std::to_string(world_.ResidentGrowthKiB()) +
                   " KiB over it)";
        }
        Say(Stamp() + " check " + std::to_string(checks_) + " ok after step " +
            std::to_string(step_) + ", " + std::to_string(world_.AcceptedStreams()) +
            " streams so far; host " + host);
    }

    void Final() {
        SensorSession client(world_, "removed");
        Expect(client.WaitForPositionOnTheDrive(), "a last client got no position");
        Command({"pnp", "surprise-remove"});
        Expect(client.WaitFor(IsEnded) && client.ExitStatus() == 1,
               "a surprise removal did not end the subscriber's events");
        Expect(world_.WaitForFeedToEnd(), "the removed device's feed did not end");
        Expect(world_.StopHost() == 0, "the host did not stop in order");
        Say(Stamp() + " end ok: a surprise removal ended the events and the feed; host exited 0");
    }

    std::string Stamp() const {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_).count();
        char text[24];
        std::snprintf(text, sizeof(text), "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
        return text;
    }
    void Note(const std::string& text) {
        if (log_ != nullptr) {
            std::fprintf(log_, "%s step %d: %s\n", Stamp().c_str(), step_, text.c_str());
            std::fflush(log_);
        }
    }
    void Say(const std::string& text) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        Note(text);
    }

    SoakOptions options_;
    std::mt19937 random_;
    World world_;
    std::FILE* log_ = nullptr;
    const Clock::time_point start_ = Clock::now();
    std::vector<Client> clients_;
    std::unique_ptr<ChildProcess> raw_;
    std::string rawOutput_;
    int rawUntil_ = 0;
    bool disturbed_ = false;  // a client left while the raw stream ran
    bool dropped_ = false;    // the feed's stream is gone; its clients leave
    int acceptedAtDrop_ = 0;
    bool awake_ = true;
    int step_ = 0;
    int nextFault_ = 20;
    int checks_ = 0;
};

}  // namespace
}  // namespace zntr::test

int main(int argc, char** argv) {
    zntr::test::SoakOptions options;
    CLI::App app("Soak the driver in its host on a random, reproducible schedule", "zntr_soak");
    app.add_option("--minutes", options.minutes, "How long to run")->capture_default_str();
    app.add_option("--check-every", options.checkEvery, "Seconds between checks")
        ->check(CLI::Range(5.0, 3600.0))
        ->capture_default_str();
    app.add_option("--seed", options.seed, "Seed of the schedule (default: a random one)");
    app.add_option("--log", options.log, "Write every action and check to this file");
    CLI11_PARSE(app, argc, argv);
    try {
        zntr::test::Soak soak(options);
        return soak.Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zntr_soak: %s\n", error.what());
        return 1;
    }
}
