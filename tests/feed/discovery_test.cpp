// The hotspot's port discovery. Its answers are a table (tests/data/discovery/answers.table): each
// row names an input of answers/ (shared with the fuzz target) that a status page on loopback
// serves, receive by receive, and gives what QueryGpsPortInfo makes of it; every row also checks
// the request sent, byte for byte. The C++ tests below are the queue's stop event and the retries.
// Also the feed program's main.
#include <fstream>
#include <sstream>

#include "driver_log.h"
#include "standin/network_control.h"
#include "status_page.h"
#include "table_tests.h"
#include "wire_text.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "gps_port_info.h"

namespace {

using namespace zntr::test;

struct Outcome {
    int result = 0;
    std::string address;
    int port = 10110;  // the start value the driver's callers give
    std::vector<std::string> log;
};

Outcome Discover(const std::string& map, cPortQueryQueue* queue = nullptr) {
    zntr::platform::ScopedNetworkSettings network({map, false});
    DriverLog log;
    gEnableLog = 1;
    char address[PORT_QUERY_ADDRESS_SIZE] = {};
    Outcome outcome;
    // A receive that sees the end sets no error: the message shows the one before, here none.
    WSASetLastError(0);
    outcome.result = QueryGpsPortInfo(address, &outcome.port, queue);
    outcome.address = address;
    outcome.log = log.Take();
    return outcome;
}

Outcome Discover(bool byName, int statusPort, cPortQueryQueue* queue = nullptr) {
    return Discover(StatusPageMap(byName, statusPort), queue);
}

std::vector<std::string> Answer(const Table& table, const TableRow& row) {
    std::ifstream file(table.path.parent_path() / "answers" / row[0], std::ios::binary);
    const StatusPageInput input =
        ParseStatusPageInput(std::string(std::istreambuf_iterator<char>(file), {}));
    ScriptedPeer page(input.script);
    const Outcome outcome = Discover(input.byName, page.Port());
    EXPECT_EQ(page.Received(), std::vector<std::string>{StatusRequest(input.byName)})
        << table.Where(row);
    std::string log;
    for (const std::string& line : outcome.log) {
        log += (log.empty() ? "" : " / ") + Escape(line);
    }
    return {std::to_string(outcome.result), outcome.address.empty() ? "-" : Escape(outcome.address),
            std::to_string(outcome.port), log};
}

// The queue's side of the discovery: its stop event, and a count of the completions of its
// waiting reads.
class Queue final : public cPortQueryQueue {
  public:
    explicit Queue(bool stopEvent)
        : stop_(stopEvent ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr) {}
    virtual ~Queue() {
        if (stop_ != nullptr) {
            CloseHandle(stop_);
        }
    }
    HANDLE GetStopEvent() override { return stop_; }
    int FreeList() override { return ++freed; }
    int freed = 0;

  private:
    HANDLE stop_;
};

const PeerScript kEnabled{{"GPSEnable=1\x1bWwIpaddr=127.0.0.5\x1bWwPort=2000\x1b"}};

// A signalled stop event ends the queue's discovery before its connect, once the waiting reads
// are completed; the wait takes the signal.
TEST(DiscoveryAttempts, ASignalledStopEventEndsTheQueuesDiscoveryBeforeItsConnect) {
    ScriptedPeer page(kEnabled);
    Queue queue(true);
    SetEvent(queue.GetStopEvent());
    const Outcome outcome = Discover(true, page.Port(), &queue);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(queue.freed, 1);
    EXPECT_EQ(page.Connections(), 0);
    EXPECT_EQ(WaitForSingleObject(queue.GetStopEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(outcome.log, std::vector<std::string>{"getaddrinfo returns 0,\n"});
}

// While the web interface refuses, each attempt completes the waiting reads before its wait and
// after its failed connect; the stop event, set during the pause, ends it at the next wait.
TEST(DiscoveryAttempts, TheQueuesDiscoveryRetriesUntilItsStopEvent) {
    ScriptedPeer page(kEnabled, ScriptedPeer::Door::kRefusing);
    Queue queue(true);
    DriverLog hooks;
    hooks.OnMessage("Failed to connect to the http port\n",
                    [&] { SetEvent(queue.GetStopEvent()); });
    const Outcome outcome = Discover(false, page.Port(), &queue);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(queue.freed, 3);
}

// Without a stop event the reads are completed only after a failed connect; the next attempt
// reaches the interface once it listens.
TEST(DiscoveryAttempts, ARefusedConnectIsRetried) {
    ScriptedPeer page(kEnabled, ScriptedPeer::Door::kRefusing);
    Queue queue(false);
    DriverLog hooks;
    hooks.OnMessage("Failed to connect to the http port\n", [&] { page.Listen(); });
    const Outcome outcome = Discover(true, page.Port(), &queue);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.address, "127.0.0.5");
    EXPECT_EQ(queue.freed, 1);
    EXPECT_EQ(
        std::count(outcome.log.begin(), outcome.log.end(), "Failed to connect to the http port\n"),
        1);
}

// A name whose IPv6 address comes before its IPv4 one is reached at the IPv4 address: the HTTP
// socket is IPv4 and could never connect to the other. (A connect tried at the IPv6 address fails
// and ends the attempts.)
TEST(DiscoveryAttempts, TheNamesFirstIpv4AddressIsTheOneConnected) {
    ScriptedPeer page(kEnabled);
    Queue queue(true);
    DriverLog hooks;
    hooks.OnMessage("Failed to connect to the http port\n",
                    [&] { SetEvent(queue.GetStopEvent()); });
    const Outcome outcome = Discover(
        "gps-hotspot.internal=::1,127.0.0.1;127.0.0.1:80=127.0.0.1:" + std::to_string(page.Port()),
        &queue);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.address, "127.0.0.5");
    EXPECT_EQ(page.Connections(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
    RegisterTableRows("Discovery", FilesEndingIn(ZNTR_TEST_DATA "/discovery", ".table"), 1, Answer);
    return RUN_ALL_TESTS();
}
