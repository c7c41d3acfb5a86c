// QueryGpsPortInfo against the hotspot simulator on loopback, reached through the network map
// exactly as the driver reaches the hotspot: by its host name or by 192.168.1.1:80.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "simulator/simulator.h"
#include "standin/control.h"
#include "standin/network_control.h"

// Driver headers last: they rename the C runtime's number readers.
#include "debug_log.h"
#include "gps_port_info.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zntr::hotspot::HotspotSimulator;
using zntr::hotspot::HttpFault;
using zntr::hotspot::SimulatorOptions;

const std::string ESC = "\x1b";
const std::string HEADERS = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";

const std::string NAME_REQUEST =
    "GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\nAccept: */*\r\nAccept-Language: "
    "en-us\r\nAccept-Encoding: gzip, deflate\r\nHost: gps-hotspot.internal\r\nConnection: "
    "Keep-Alive\r\n\r\n";
const std::string ADDRESS_REQUEST =
    "GET /getGPSStatus.cgi?dataType=TEXT HTTP/1.1\r\nAccept: */*\r\nAccept-Language: "
    "en-us\r\nAccept-Encoding: gzip, deflate\r\nHost: 192.168.1.1\r\nConnection: "
    "Keep-Alive\r\n\r\n";

// The map that sends the host name to the simulator's status page.
std::string ByName(const HotspotSimulator& hotspot) {
    return "gps-hotspot.internal=127.0.0.1;127.0.0.1:80=127.0.0.1:" +
           std::to_string(hotspot.http_port());
}

// The map that leaves the name unresolved and sends 192.168.1.1:80 to the status page.
std::string ByAddress(const HotspotSimulator& hotspot) {
    return "192.168.1.1:80=127.0.0.1:" + std::to_string(hotspot.http_port());
}

struct Outcome {
    int result = -1;
    std::string address;
    int port = 0;
    std::vector<std::string> log;
};

class FakeQueue : public cPortQueryQueue {
  public:
    explicit FakeQueue(HANDLE stopEvent) : stop(stopEvent) {}
    virtual ~FakeQueue() = default;
    HANDLE GetStopEvent() override { return stop; }
    int FreeList() override {
        ++freeLists;
        return 1;
    }
    HANDLE stop;
    std::atomic<int> freeLists{0};
};

class GpsPortInfoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data_), 0);
        gEnableLog = 1;
    }
    void TearDown() override {
        gEnableLog = 0;
        WSACleanup();
    }

    // One call, on this thread, under the given map; the port starts as the receive loop's does.
    Outcome Query(const std::string& map, cPortQueryQueue* queue = nullptr) {
        zntr::platform::ScopedNetworkSettings network({map, false});
        zntr::platform::DebugOutputCapture capture;
        char address[PORT_QUERY_ADDRESS_SIZE] = {};
        Outcome outcome;
        outcome.port = 10110;
        outcome.result = QueryGpsPortInfo(address, &outcome.port, queue);
        outcome.address = address;
        outcome.log = capture.Take();
        return outcome;
    }

    static SimulatorOptions Answering(std::vector<std::string> segments) {
        SimulatorOptions options;
        options.raw_answer_segments = std::move(segments);
        return options;
    }

    WSADATA data_{};
};

using Log = std::vector<std::string>;

TEST_F(GpsPortInfoTest, ByNameTheNameRequestIsSentAndTheAnswerUsed) {
    const std::string body =
        "GPSEnable=1" + ESC + "WwIpaddr=192.168.1.1" + ESC + "WwPort=11010" + ESC;
    HotspotSimulator hotspot(Answering({HEADERS + body}));
    const Outcome outcome = Query(ByName(hotspot));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.address, "192.168.1.1");
    EXPECT_EQ(outcome.port, 11010);
    EXPECT_EQ(hotspot.last_request(), NAME_REQUEST);
    EXPECT_EQ(outcome.log,
              (Log{"getaddrinfo returns 0,\n", "connected to dns\n",
                   "HTTP Response :" + HEADERS + body + "\n", "IP: 192.168.1.1, Port: 11010\n"}));
}

TEST_F(GpsPortInfoTest, AnUnresolvedNameFallsBackToTheAddressRequestOf160Bytes) {
    HotspotSimulator hotspot(SimulatorOptions{});
    const Outcome outcome = Query(ByAddress(hotspot));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.address, "127.0.0.1");
    EXPECT_EQ(outcome.port, hotspot.stream_port());
    EXPECT_EQ(hotspot.last_request(), ADDRESS_REQUEST);
    EXPECT_EQ(hotspot.last_request().size(), 160u);
    ASSERT_GE(outcome.log.size(), 3u);
    EXPECT_EQ(outcome.log[0], "Failed to resolve the IP address from the dns name Error : 11001\n");
    EXPECT_EQ(outcome.log[1], "Using default value 192.168.1.1\n");
    EXPECT_EQ(outcome.log[2], "connected to the port\n");
}

struct AnswerCase {
    const char* legend;
    std::vector<std::string> segments;  // as the status page sends them
    int result;
    std::string address;
    int port;
    std::vector<std::string> expectedLog;  // starts of lines that must be in the log, in order
};

class GpsPortInfoAnswerTest : public GpsPortInfoTest,
                              public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(GpsPortInfoAnswerTest, TheAnswerDecidesResultAddressAndPort) {
    const AnswerCase& c = GetParam();
    HotspotSimulator hotspot(Answering(c.segments));
    const Outcome outcome = Query(ByName(hotspot));
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.address, c.address);
    EXPECT_EQ(outcome.port, c.port);
    std::size_t next = 0;
    for (const std::string& line : outcome.log) {
        if (next < c.expectedLog.size() && line.rfind(c.expectedLog[next], 0) == 0) {
            ++next;
        }
    }
    EXPECT_EQ(next, c.expectedLog.size())
        << "missing in order: " << (next < c.expectedLog.size() ? c.expectedLog[next] : "");
}

const std::string KEYS = "GPSEnable=1" + ESC + "WwIpaddr=127.0.0.5" + ESC + "WwPort=2000" + ESC;

INSTANTIATE_TEST_SUITE_P(
    Answers, GpsPortInfoAnswerTest,
    ::testing::Values(
        AnswerCase{
            "GPS disabled: no stream, though the address was copied",
            {HEADERS + "GPSEnable=0" + ESC + "WwIpaddr=192.168.1.1" + ESC + "WwPort=11010" + ESC},
            0,
            "192.168.1.1",
            11010,
            {"Gps Port is not Enabled on the device\n"}},
        AnswerCase{"no address: the default endpoint, whatever WwPort said",
                   {HEADERS + "GPSEnable=1" + ESC + "WwPort=11010" + ESC},
                   1,
                   "192.168.1.1",
                   10110,
                   {"Setting default IP and Port Value\n", "IP: 192.168.1.1, Port: 10110\n"}},
        AnswerCase{"headers first: only the second receive's bytes are parsed",
                   {HEADERS + "GPSEnable=0" + ESC, KEYS},
                   1,
                   "127.0.0.5",
                   2000,
                   {"HTTP Response :" + KEYS + "\n", "IP: 127.0.0.5, Port: 2000\n"}},
        AnswerCase{
            "WwPort= but no GPSEnable= in the first receive: no second receive, no stream",
            {HEADERS + "WwIpaddr=127.0.0.5" + ESC + "WwPort=2000" + ESC, "GPSEnable=1" + ESC},
            0,
            "127.0.0.5",
            2000,
            {"Gps Port is not Enabled on the device\n"}},
        AnswerCase{"values without ESC run to the end of the received text",
                   {"GPSEnable=1\nWwIpaddr=127.0.0.5\nWwPort=2000\n"},
                   1,
                   "127.0.0.5\nWwPort=2000\n",
                   2000,
                   {}},
        AnswerCase{"an address longer than its buffer is cut at 255 characters",
                   {"GPSEnable=1" + ESC + "WwPort=7" + ESC + "WwIpaddr=" + std::string(300, '7')},
                   1,
                   std::string(255, '7'),
                   7,
                   {}},
        AnswerCase{"a GPSEnable value longer than its buffer is cut at 99 characters",
                   {"WwPort=7" + ESC + "GPSEnable=" + std::string(99, '0') + "1" + ESC},
                   0,
                   "",
                   7,
                   {"Gps Port is not Enabled on the device\n"}},
        AnswerCase{"a port beyond int clamps as Windows atoi does",
                   {"GPSEnable=1" + ESC + "WwIpaddr=127.0.0.5" + ESC + "WwPort=99999999999" + ESC},
                   1,
                   "127.0.0.5",
                   2147483647,
                   {}},
        AnswerCase{"only the first occurrence of a key counts",
                   {"GPSEnable=2" + ESC + "GPSEnable=0" + ESC + "WwIpaddr=127.0.0.5" + ESC +
                    "WwPort=3" + ESC + "WwPort=4" + ESC},
                   1,
                   "127.0.0.5",
                   3,
                   {}},
        AnswerCase{"keys are matched with their letter case",
                   {"gpsenable=1" + ESC + "WwIpaddr=127.0.0.5" + ESC + "WwPort=3" + ESC},
                   0,
                   "127.0.0.5",
                   3,
                   {"Gps Port is not Enabled on the device\n"}},
        AnswerCase{"an answer whose text is empty (a byte 0 first)",
                   {std::string("\0GPSEnable=1", 12)},
                   0,
                   "",
                   10110,
                   {"Gps Port is not Enabled on the device\n"}},
        AnswerCase{
            "headers only, then the connection closes: the second receive fails",
            {HEADERS},
            1,
            "192.168.1.1",
            10110,
            {"Failed to receive 2 response with error ", "Setting default IP and Port Value\n"}}),
    [](const ::testing::TestParamInfo<AnswerCase>& paramInfo) {
        return "Case" + std::to_string(paramInfo.index);
    });

TEST_F(GpsPortInfoTest, AnInterfaceThatClosesWithoutAnswerLeadsToTheDefaultEndpoint) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kCloseWithoutAnswer;
    HotspotSimulator hotspot(options);
    const Outcome outcome = Query(ByName(hotspot));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.address, "192.168.1.1");
    EXPECT_EQ(outcome.port, 10110);
    ASSERT_GE(outcome.log.size(), 3u);
    EXPECT_EQ(outcome.log[2].rfind("Failed to receive response with error ", 0), 0u)
        << outcome.log[2];
    EXPECT_EQ(outcome.log.back(), "IP: 192.168.1.1, Port: 10110\n");
}

// One refused attempt, then the interface accepts: the pause between the attempts is 500 ms
// on the address path and 1000 ms on the name path.
TEST_F(GpsPortInfoTest, ARefusedConnectIsRetriedAfterThePauseOfItsPath) {
    struct Case {
        const char* legend;
        bool byName;
        std::chrono::milliseconds pause;
        const char* connected;
    };
    const Case cases[] = {{"address path", false, 500ms, "connected to the port\n"},
                          {"name path", true, 1000ms, "connected to dns\n"}};
    for (const Case& c : cases) {
        SimulatorOptions options;
        options.http_fault = HttpFault::kRefuse;
        HotspotSimulator hotspot(options);
        std::thread opener([&] {
            std::this_thread::sleep_for(150ms);
            hotspot.AcceptHttp();
        });
        const auto start = Clock::now();
        const Outcome outcome = Query(c.byName ? ByName(hotspot) : ByAddress(hotspot));
        const auto took = Clock::now() - start;
        opener.join();
        EXPECT_EQ(outcome.result, 1) << c.legend;
        EXPECT_GE(took, c.pause) << c.legend;
        EXPECT_LT(took, c.pause + 700ms) << c.legend << ": a second attempt was enough";
        int refused = 0;
        for (const std::string& line : outcome.log) {
            refused += line == "Failed to connect to the http port\n";
        }
        EXPECT_EQ(refused, 1) << c.legend;
        EXPECT_NE(std::find(outcome.log.begin(), outcome.log.end(), c.connected), outcome.log.end())
            << c.legend;
    }
}

TEST_F(GpsPortInfoTest, ASignalledStopEventEndsTheQueuesDiscoveryBeforeAnyConnect) {
    HotspotSimulator hotspot(SimulatorOptions{});
    HANDLE stop = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    FakeQueue queue(stop);
    const auto start = Clock::now();
    const Outcome outcome = Query(ByName(hotspot), &queue);
    EXPECT_LT(Clock::now() - start, 100ms);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(queue.freeLists.load(), 1) << "waiting reads were completed first";
    EXPECT_EQ(hotspot.http_connections(), 0);
    EXPECT_EQ(WaitForSingleObject(stop, 0), WAIT_TIMEOUT) << "the wait reset the event";
    EXPECT_EQ(outcome.log, (Log{"getaddrinfo returns 0,\n"})) << "no message for the stop";
    CloseHandle(stop);
}

TEST_F(GpsPortInfoTest, AStopDuringRetriesEndsTheQueuesDiscoveryWithinAbout100Ms) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kRefuse;
    HotspotSimulator hotspot(options);
    HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    FakeQueue queue(stop);
    std::atomic<bool> set{false};
    Clock::time_point setAt;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        setAt = Clock::now();
        SetEvent(stop);
        set = true;
    });
    const Outcome outcome = Query(ByAddress(hotspot), &queue);
    const auto ended = Clock::now();
    stopper.join();
    EXPECT_EQ(outcome.result, 0);
    // The event came during the 500 ms pause; the next attempt's wait sees it at once.
    EXPECT_LT(ended - setAt, 500ms + 150ms);
    // Each refused attempt completes the reads twice: before its wait and after its failure.
    EXPECT_EQ(queue.freeLists.load(), 3);
    CloseHandle(stop);
}

TEST_F(GpsPortInfoTest, AQueueWithoutStopEventCompletesReadsOnlyAfterAFailedConnect) {
    HotspotSimulator hotspot(SimulatorOptions{});
    FakeQueue queue(nullptr);
    const Outcome outcome = Query(ByName(hotspot), &queue);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(queue.freeLists.load(), 0);
}

TEST_F(GpsPortInfoTest, WithoutWinsockTheSocketCannotBeCreated) {
    int outstanding = 0;
    while (WSACleanup() == 0) {
        ++outstanding;
    }
    const Outcome outcome = Query("");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.log, (Log{"Failed to create the socket\n"}));
    for (int i = 0; i < outstanding; ++i) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 0), &data);
    }
}

// The sensor's path has no stop event: while the interface refuses, it retries until its thread
// is ended, and ending it leaves nothing open.
TEST_F(GpsPortInfoTest, TheSensorsPathRetriesUntilItsThreadIsTerminated) {
    SimulatorOptions options;
    options.http_fault = HttpFault::kRefuse;
    HotspotSimulator hotspot(options);
    zntr::platform::ScopedNetworkSettings network({ByAddress(hotspot), false});
    zntr::platform::DebugOutputCapture capture;
    struct Call {
        char address[PORT_QUERY_ADDRESS_SIZE] = {};
        int port = 10110;
    } call;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID parameter) -> DWORD {
            auto* c = static_cast<Call*>(parameter);
            QueryGpsPortInfo(c->address, &c->port, nullptr);
            return 1;
        },
        &call, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 1200), WAIT_TIMEOUT) << "still retrying";
    ASSERT_TRUE(TerminateThread(thread, 0));
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(thread);
    int refused = 0;
    for (const std::string& line : capture.Take()) {
        refused += line == "Failed to connect to the http port\n";
    }
    EXPECT_GE(refused, 2) << "attempts 500 ms apart";
    EXPECT_EQ(call.address[0], '\0');
}

}  // namespace
