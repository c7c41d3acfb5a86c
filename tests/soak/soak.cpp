// zntr_soak: the whole system for as long as asked, checked every period. The simulator streams
// the drive at an epoch a second to a host running the real driver module, and a random but
// reproducible schedule (--seed) brings sensor clients that come and go, gracefully or killed;
// raw readers; power and Plug and Play commands; and hotspot restarts, with stream faults,
// under a live feed, which the driver never reconnects.
// Each check: every subscriber of a live feed got data, all leave, the feed ends, and the host's
// threads and descriptors come back to their baseline. At the end the host stops in order.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <random>
#include <stdexcept>
#include <thread>

#include "wait_until.h"
#include "world.h"

namespace zntr::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct SoakOptions {
    double minutes = 60.0;
    double checkEvery = 60.0;
    std::uint32_t seed = std::random_device{}();
};

// A hotspot with no stream fault, garbage, bad checksums or sentences cut across segments.
hotspot::SimulatorOptions SoakHotspot(unsigned fault, std::uint32_t seed) {
    hotspot::SimulatorOptions options = World::Simulator(1.0);
    options.record_streams = false;  // hours of it
    options.faults.seed = seed;
    options.faults.garbage_share = fault == 1 ? 0.1 : 0.0;
    options.faults.bad_checksum_share = fault == 2 ? 0.1 : 0.0;
    options.faults.split_segments = fault == 3;
    return options;
}

const char* const kSleep[] = {"sleep", "hibernate"};
const char* const kPnp[] = {"query-remove", "query-stop"};

class Soak {
  public:
    explicit Soak(const SoakOptions& options)
        : options_(options), random_(options.seed), world_(SoakHotspot(0, 0)) {}

    int Run() {
        Say("zntr_soak: seed " + std::to_string(options_.seed) + "; host pid " +
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
            Say(Stamp() + " FAILED (seed " + std::to_string(options_.seed) +
                "): " + failure.what() + "\nhost output:\n" + world_.HostOutput());
            return 1;
        }
        Say("zntr_soak: passed " + std::to_string(checks_) + " checks");
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

    // Streams open: the feed's while it has clients and was not dropped; the raw reader's.
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
        const unsigned pick = random_() % 8;
        if (pick < 3 && !raw_ && clients_.size() < 5) {
            Connect();
        } else if (pick == 3 && !raw_) {
            StartRaw();
        } else if (pick == 4) {
            awake_ = !awake_;  // the device refuses to sleep twice
            Command({"power", awake_ ? "wake" : kSleep[random_() % 2]});
        } else if (pick == 5) {
            Command({"pnp", kPnp[random_() % 2]});
        }
    }

    void Connect() {
        clients_.push_back({std::make_unique<SensorSession>(world_, "client"),
                            step_ + 2 + static_cast<int>(random_() % 20)});
        Expect(clients_.back().session->WaitForSubscribed(),
               "a client could not subscribe: " + clients_.back().session->Output());
        Expect(world_.WaitForStreams(Streams()), "the first client starts the feed");
    }

    void Leave(std::size_t index) {
        SensorSession& session = *clients_[index].session;
        const bool kill = random_() % 3 == 0;
        if (kill) {
            session.Kill();
        } else {
            Expect(session.Leave() == 0, "a client could not leave: " + session.Output());
        }
        clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
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
        Expect(world_.WaitForStreams(Streams()), "a raw reader's read starts its stream");
    }

    void StopRaw() {
        Expect(WaitUntil([&] { return ReadTextFile(rawOutput_).starts_with('$'); }, kPatience),
               "a raw reader got no sentence: " + ReadTextFile(rawOutput_));
        Expect(raw_->InterruptAndWait(kPatience) == 0, "zntr cat did not end in order");
        raw_.reset();
        Expect(world_.WaitForStreams(Streams()), "a raw reader's stream ends with it");
        Expect(world_.WaitForOpensAccepted(), "opens are refused after the raw stream");
    }

    void Command(const std::vector<std::string>& words) {
        const CommandResult result = world_.Run(words);
        Expect(result.status == 0, "zntr " + words[1] + ": " + result.output);
    }

    // The hotspot restarts under a live feed: the driver does not notice and never connects
    // again while its clients stay; they leave one by one.
    void Fault() {
        if (raw_) {
            StopRaw();
        }
        world_.RestartHotspot(SoakHotspot(random_() % 4, random_()));
        dropped_ = !clients_.empty();
        acceptedAtDrop_ = world_.AcceptedStreams();
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
        if (checks_ == 1) {
            world_.TakeBaseline();
        }
        const std::string host = world_.BackToBaseline();
        const long resident = world_.ResidentGrowthKiB();
        Expect(host.empty(), host);
        Expect(kSanitized || resident <= 64 * 1024, "the host's resident memory grew too much");
        Say(Stamp() + " check " + std::to_string(checks_) + " ok after " + std::to_string(step_) +
            " steps; the host is back at its baseline, " + std::to_string(resident) + " KiB more");
    }

    void Final() {
        Quiet();
        Expect(world_.StopHost() == 0, "the host did not stop in order");
        Say(Stamp() + " end ok: the host stopped in order");
    }

    std::string Stamp() const { return std::to_string((Clock::now() - start_) / 1s) + " s"; }
    void Say(const std::string& text) { std::cout << text << std::endl; }

    SoakOptions options_;
    std::mt19937 random_;
    World world_;
    const Clock::time_point start_ = Clock::now();
    std::vector<Client> clients_;
    std::unique_ptr<ChildProcess> raw_;
    std::string rawOutput_;
    int rawUntil_ = 0;
    bool dropped_ = false;  // the feed's stream is gone; its clients leave
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
    CLI11_PARSE(app, argc, argv);
    try {
        zntr::test::Soak soak(options);
        return soak.Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zntr_soak: %s\n", error.what());
        return 1;
    }
}
