// The feed as the clients drive it, against the hotspot simulator: the first client starts the
// one receive thread, the last one ends it (also while it waits for the sensor lock), a thread
// that gives up leaves the clients connected, a hotspot that never answers keeps the thread
// trying until the last client leaves, and the device's teardown ends the feed by itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "live_sensor_test_support.h"
#include "standin/resource_control.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zntr::hotspot::HttpFault;
using zntr::hotspot::SimulatorOptions;
using zntr::test::LiveSensorTest;
using zntr::test::StreamingHotspot;
using zntr::test::Value;
using Lines = std::vector<std::string>;

size_t Count(const Lines& log, const std::string& message) {
    return static_cast<size_t>(std::count(log.begin(), log.end(), message));
}

class ClientFeedTest : public LiveSensorTest {
  protected:
    // The track's heading reaches the sensor only through the stream.
    bool WaitForStream() {
        return WaitFor([&] { return DataField(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES).vt == VT_R4; },
                       10s);
    }
};

TEST_F(ClientFeedTest, TwoConnectsStartOneThreadAndTheLastDisconnectEndsItWhileTheStreamFlows) {
    auto& hotspot = StartHotspot(StreamingHotspot());
    EXPECT_EQ(Connect(), S_OK);
    const HANDLE thread = Sensor().mhRecvThread.load();
    EXPECT_NE(thread, nullptr);
    EXPECT_EQ(Connect(), S_OK);
    EXPECT_EQ(Sensor().mhRecvThread.load(), thread) << "the second client starts no thread";
    ASSERT_TRUE(WaitForStream());
    EXPECT_EQ(hotspot.http_connections(), 1);
    EXPECT_EQ(hotspot.stream_connections(), 1);
    Lines log = Log();
    EXPECT_EQ(Count(log, "cSensorDDI::OnClientConnect\n"), 2u);
    EXPECT_EQ(Count(log, "cSensorDDI::OnClientconnect returns\n"), 2u);
    EXPECT_EQ(Count(log, "Before Create Sock\n"), 1u);

    EXPECT_EQ(Disconnect(), S_OK);
    log = Log();
    EXPECT_TRUE(Logged(log, "OnClientDisconnect no clients\n"));
    EXPECT_EQ(Sensor().mhRecvThread.load(), thread) << "one client left: the feed goes on";

    Sensor().mNetDevicePath = L"\\\\?\\pci#ven_zntr#net";
    EXPECT_EQ(Disconnect(), S_OK);
    EXPECT_EQ(Sensor().mClientCount, 0u);
    EXPECT_EQ(Sensor().mhRecvThread.load(), nullptr);
    EXPECT_EQ(Sensor().mSocket, 0u);
    EXPECT_EQ(Sensor().mRecvBuffer.mpData, nullptr);
    EXPECT_EQ(Sensor().mRecvBuffer.mReadIndex + Sensor().mRecvBuffer.mWriteIndex, 0u);
    EXPECT_TRUE(Sensor().mNetDevicePath.empty());
    // A running loop writes the fields on every pass, at least once a second.
    const Value heading = DataField(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES);
    const Value latitude = DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES);
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES), heading) << "the thread has ended";
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES), latitude) << "the thread has ended";

    Log();
    EXPECT_EQ(Disconnect(), E_UNEXPECTED);
    EXPECT_TRUE(Logged(Log(), "OnClientDisconnect: no clients connected\n"));
    EXPECT_EQ(Sensor().mClientCount, 0u);

    // The next first client starts a thread, and a connection, again.
    EXPECT_EQ(Connect(), S_OK);
    EXPECT_TRUE(WaitFor([&] { return hotspot.stream_connections() == 2; }, 30s));
    EXPECT_EQ(Disconnect(), S_OK);
    ExpectNothingLeftBehind();
}

TEST_F(ClientFeedTest, AThreadThatGivesUpLeavesTheClientsAndOneThatKeepsTryingEndsWithThem) {
    SimulatorOptions disabled = StreamingHotspot();
    disabled.answer.gps_enable = "0";
    SimulatorOptions unreachableStream = StreamingHotspot();
    unreachableStream.answer.port = 10111;  // not in the map: the guard refuses it
    SimulatorOptions refusing = StreamingHotspot();
    refusing.http_fault = HttpFault::kRefuse;
    SimulatorOptions silent = StreamingHotspot();
    silent.http_fault = HttpFault::kSilent;
    struct Case {
        const char* legend;
        SimulatorOptions hotspot;
        bool givesUp;
        std::string sign;  // a log line that shows how far the thread got
    } const cases[] = {
        {"GPS disabled", disabled, true, "Gps Port is not Enabled on the device\n"},
        {"the stream endpoint cannot be reached", unreachableStream, true, "Before Connect\n"},
        {"the web interface refuses every connection", refusing, false,
         "Failed to connect to the http port\n"},
        {"the web interface never answers", silent, false, "connected to dns\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        auto& hotspot = StartHotspot(c.hotspot);
        Log();
        ASSERT_EQ(Connect(), S_OK);
        if (c.givesUp) {
            ASSERT_TRUE(WaitFor([&] { return !FeedThreadHeld(); }, 30s));
            const Lines log = Log();
            EXPECT_TRUE(Logged(log, c.sign));
            EXPECT_TRUE(
                Logged(log, "GpsRecvThreadProc: Failed to create and connect to the socket"));
            EXPECT_EQ(Sensor().mRecvBuffer.mpData, nullptr);
            EXPECT_EQ(Sensor().mSocket, 0u);
            EXPECT_EQ(Sensor().mClientCount, 1u) << "the clients stay connected";
            // Only a count that goes from 0 to 1 starts a thread.
            EXPECT_EQ(Connect(), S_OK);
            EXPECT_FALSE(FeedThreadHeld());
            EXPECT_EQ(hotspot.http_connections(), 1);
            EXPECT_EQ(Disconnect(), S_OK);
            EXPECT_EQ(Disconnect(), S_OK);
        } else {
            // Past its first attempt, the thread waits: to try again, or for an answer.
            ASSERT_TRUE(WaitFor([&] { return Logged(log_.Take(), c.sign); }, 30s));
            std::this_thread::sleep_for(200ms);
            EXPECT_TRUE(FeedThreadHeld());
            const auto start = Clock::now();
            EXPECT_EQ(Disconnect(), S_OK);
            EXPECT_LT(Clock::now() - start, 500ms) << "leaving ends the thread at once";
        }
        ExpectNothingLeftBehind();
    }
}

TEST_F(ClientFeedTest, AThreadThatCannotBeCreatedIsNotRetriedUntilEveryClientHasLeft) {
    StartHotspot(StreamingHotspot());
    zntr::platform::FailNextThreadCreations(1);
    Log();
    EXPECT_EQ(Connect(), HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(Log(), (Lines{"cSensorDDI::OnClientConnect\n",
                            "cMainDevice: failed to create receive thread",
                            "Failed to create the thread with error: 8\n"}));
    EXPECT_EQ(Sensor().mClientCount, 1u) << "the count keeps its increase";
    EXPECT_EQ(Connect(), S_OK);
    EXPECT_FALSE(FeedThreadHeld());
    EXPECT_EQ(Disconnect(), S_OK);
    EXPECT_EQ(Disconnect(), S_OK);
    EXPECT_EQ(Connect(), S_OK);
    EXPECT_TRUE(FeedThreadHeld());
    EXPECT_EQ(Disconnect(), S_OK);
    ExpectNothingLeftBehind();
}

// The disconnection holds mSensorLock while it ends the thread, and the thread, fed by the
// stream, waits for that lock to write its next field: ending it must not wait for the lock.
TEST_F(ClientFeedTest, TheLastDisconnectEndsAThreadThatWaitsForTheSensorLock) {
    StartHotspot(StreamingHotspot());
    ASSERT_EQ(Connect(), S_OK);
    ASSERT_TRUE(WaitForStream());
    {
        cCriticalSectionLock hold(Sensor().mSensorLock);
        // Every pass writes fields within a second: a pass with lines at once, one without
        // after its pause.
        std::this_thread::sleep_for(1200ms);
        const auto start = Clock::now();
        EXPECT_EQ(Disconnect(), S_OK);
        EXPECT_LT(Clock::now() - start, 500ms);
    }
    ExpectNothingLeftBehind();
}

// The device's teardown may come while clients are still connected.
TEST_F(ClientFeedTest, EndFeedTakesTheFeedDownAndCountsTheClientsOut) {
    StartHotspot(StreamingHotspot());
    ASSERT_EQ(Connect(), S_OK);
    ASSERT_EQ(Connect(), S_OK);
    ASSERT_TRUE(WaitForStream());
    Sensor().mNetDevicePath = L"\\\\?\\pci#ven_zntr#net";
    Sensor().EndFeed();
    EXPECT_EQ(Sensor().mClientCount, 0u);
    EXPECT_TRUE(Sensor().mNetDevicePath.empty());
    EXPECT_EQ(Disconnect(), E_UNEXPECTED) << "no client is left to disconnect";
    Sensor().EndFeed();  // idle: nothing to do
    EXPECT_EQ(Sensor().mClientCount, 0u);
    ExpectNothingLeftBehind();
}

}  // namespace
