// Client processes killed at random moments: while they open the device, connect, subscribe,
// read the raw stream or wait for events. The seed of the moments is printed (and taken from
// ZNTR_HOSTILE_SEED when set, to replay a run). After each round the feed ends once the last
// client is gone, and at the end a new client is served and the host holds nothing more.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hostile_fixture.h"

namespace zntr::test {
namespace {

std::uint32_t Seed() {
    if (const char* given = std::getenv("ZNTR_HOSTILE_SEED")) {
        return static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10));
    }
    return std::random_device{}();
}

class KilledClients : public HostileTest {};

TEST_F(KilledClients, ClientsKilledAtRandomMomentsLeaveNoFeedAndNothingBehind) {
    const std::uint32_t seed = Seed();
    std::cout << "[ seed     ] ZNTR_HOSTILE_SEED=" << seed << "\n";
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMs(0, 2500);

    StartSimulator({});
    ASSERT_NO_FATAL_FAILURE(StartHost());
    ASSERT_NO_FATAL_FAILURE(WarmUp());
    // Each round: three sensor watchers and a raw reader (a second raw reader in a round is
    // refused while the first streams, and ends by itself).
    const std::vector<std::vector<std::string>> kinds = {
        {"watch", "--json"}, {"watch", "--json"}, {"cat"}, {"watch"}};
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<std::unique_ptr<ChildProcess>> clients;
        std::vector<int> delays;
        for (const auto& kind : kinds) {
            std::vector<std::string> argv{ZNTR_BINARY};
            argv.insert(argv.end(), kind.begin(), kind.end());
            argv.insert(argv.end(), {"--socket", Socket()});
            clients.push_back(ChildProcess::Start(argv));
            ASSERT_NE(clients.back(), nullptr);
            delays.push_back(delayMs(random));
        }
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < clients.size(); ++i) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(delays[i]));
            ::kill(clients[i]->pid(), SIGKILL);
        }
        clients.clear();  // reaps them
        ASSERT_TRUE(HostAlive()) << HostOutput();
        EXPECT_TRUE(WaitForFeedToEnd()) << "the feed ends once the last client is gone";
        EXPECT_EQ(Hotspot().open_stream_connections(), 0);
    }
    ExpectANewClientIsServedAndNothingIsLeft();
}

}  // namespace
}  // namespace zntr::test
