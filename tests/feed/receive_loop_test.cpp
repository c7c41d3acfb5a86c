// The sensor's receive loop against a stream whose every write the test decides: which lines a
// pass hands on, four at most, the "Dummy" pass, the ten fields cleared after a pass that
// received nothing, and the loop's own endings. The simulator answers the discovery; the network
// map sends the driver's endpoints to loopback.
//
// This program replaces the line sink: its ProcessNMEALine below records what the loop hands
// over. The linker then leaves the sensor library's own sink out, which nothing else here uses.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "loopback_tools.h"
#include "sensor_test_support.h"
#include "simulator/simulator.h"
#include "standin/network_control.h"
#include "standin/resource_control.h"
#include "stream_peer.h"

// Driver headers last: they rename the C runtime's number readers.
#include "sensor_receive_loop.h"

namespace {

std::mutex gSinkMutex;
std::condition_variable gSinkChanged;
std::vector<std::string> gSinkLines;
// When the sink is handed this line, it marks these data fields, on the loop's own thread.
std::string gMarkingLine;
std::vector<PROPERTYKEY> gFieldsToMark;
constexpr LONG kMarkerValue = 4242;

}  // namespace

void ProcessNMEALine(const char* pLine) {
    bool mark = false;
    {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        gSinkLines.emplace_back(pLine);
        mark = gSinkLines.back() == gMarkingLine;
        gSinkChanged.notify_all();
    }
    for (const PROPERTYKEY& key : mark ? gFieldsToMark : std::vector<PROPERTYKEY>{}) {
        PROPVARIANT marker;
        marker.vt = VT_I4;
        marker.lVal = kMarkerValue;
        gpSensorDDI->SetDataFieldValue(key, &marker);
    }
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zntr::hotspot::HotspotSimulator;
using zntr::hotspot::SimulatorOptions;
using zntr::test::I4;
using zntr::test::kClearedWhenSilent;
using zntr::test::PropVariant;
using zntr::test::R8;
using zntr::test::SensorTest;
using zntr::test::Sentence;
using zntr::test::StreamPeer;
using zntr::test::Value;
using Lines = std::vector<std::string>;

bool IsCleared(REFPROPERTYKEY key) {
    for (const PROPERTYKEY& cleared : kClearedWhenSilent) {
        if (IsEqualPropertyKey(key, cleared)) {
            return true;
        }
    }
    return false;
}

// A value no writer of the loop produces.
const Value kMarker = I4(kMarkerValue);

// The discovery answer names the hotspot's usual stream endpoint, which the map sends here.
SimulatorOptions Hotspot(const std::string& gpsEnable = "1", bool withPort = true) {
    SimulatorOptions options;
    options.answer.gps_enable = gpsEnable;
    options.answer.address = "192.168.1.1";
    options.answer.port = 10110;
    options.answer.omit_port = !withPort;
    return options;
}

std::string NetworkMap(const HotspotSimulator& hotspot, int streamPort) {
    const std::string http = std::to_string(hotspot.http_port());
    return "gps-hotspot.internal=192.168.1.1;192.168.1.1:80=127.0.0.1:" + http +
           ";192.168.1.1:10110=127.0.0.1:" + std::to_string(streamPort);
}

class ReceiveLoopTest : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        ASSERT_EQ(Initialize(), S_OK);
        ConnectEvents(0);
        std::lock_guard<std::mutex> lock(gSinkMutex);
        gSinkLines.clear();
        gMarkingLine.clear();
        gFieldsToMark.clear();
    }

    void TearDown() override {
        Sensor().EndFeed();
        network_.reset();
        hotspot_.reset();
        SensorTest::TearDown();
    }

    void Serve(SimulatorOptions options, int streamPort) {
        // The settings in force before are put back only when the scopes end in reverse order.
        network_.reset();
        hotspot_ = std::make_unique<HotspotSimulator>(std::move(options));
        network_ = std::make_unique<zntr::platform::ScopedNetworkSettings>(
            zntr::platform::NetworkSettings{NetworkMap(*hotspot_, streamPort), false});
    }

    // The thread started as the first client starts it, its stream connection accepted.
    void StartStreaming() {
        Serve(Hotspot(), peer_.port());
        gRecvPassCount = 0;
        ASSERT_EQ(Sensor().OnClientConnect(nullptr, objectId_.data()), S_OK);
        ASSERT_TRUE(peer_.Accept(10s)) << "the receive thread never connected";
    }

    Lines SinkLines() {
        std::lock_guard<std::mutex> lock(gSinkMutex);
        return gSinkLines;
    }
    bool WaitForSinkLines(size_t count) {
        std::unique_lock<std::mutex> lock(gSinkMutex);
        return gSinkChanged.wait_for(lock, 10s, [&] { return gSinkLines.size() >= count; });
    }

    void MarkDataFields() {
        for (const cCatalogueEntry& entry : kSensorDataFieldCatalogue) {
            PropVariant marker;
            marker.vt = VT_I4;
            marker.lVal = kMarkerValue;
            ASSERT_EQ(Sensor().SetDataFieldValue(entry.mKey, &marker), S_OK);
        }
    }
    // Waits until a pass that received nothing has cleared the latitude field; the time it did.
    Clock::time_point WaitForNoDataPass() {
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            if (DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES) == R8(0.0)) {
                return Clock::now();
            }
            std::this_thread::sleep_for(5ms);
        }
        ADD_FAILURE() << "no pass without data cleared the fields";
        return Clock::now();
    }

    std::wstring objectId_ = SENSOR_OBJECT_ID;
    StreamPeer peer_;
    std::unique_ptr<HotspotSimulator> hotspot_;
    std::unique_ptr<zntr::platform::ScopedNetworkSettings> network_;
};

// Each step sends its text in one write and waits for the lines of the pass that receives it; a
// line more from the same pass would follow within microseconds, so a short wait shows there is
// none.
TEST_F(ReceiveLoopTest, APassHandsOnAtMostFourLinesAndTheRestWaitForTheNextReceive) {
    std::vector<std::string> s;
    for (int i = 1; i <= 8; ++i) {
        s.push_back(Sentence("GPTXT,01,01,01,LINE " + std::to_string(i)));
    }
    const std::string a = Sentence("GPTXT,01,01,01,A");
    const std::string b = Sentence("GPTXT,01,01,01,B");
    const std::string c = Sentence("GPTXT,01,01,01,C");
    const std::string d = Sentence("GPTXT,01,01,01,D");
    const std::string e = Sentence("GPTXT,01,01,01,E");
    struct Step {
        const char* legend;
        std::string sent;
        Lines passed;
    } const steps[] = {
        {"seven sentences in one receive: four, each with its CR LF, in that pass",
         s[0] + s[1] + s[2] + s[3] + s[4] + s[5] + s[6],
         {s[0], s[1], s[2], s[3]}},
        {"the next receive's pass: the three left over, then the new one",
         s[7],
         {s[4], s[5], s[6], s[7]}},
        {"a piece without '$' is never handed on but counts among the pass's four",
         a + b + c + "not a sentence\r\n" + d,
         {a, b, c}},
        {"the sentence behind it waits for the next receive", e, {d, e}},
    };
    StartStreaming();
    for (const Step& step : steps) {
        const size_t before = SinkLines().size();
        ASSERT_TRUE(peer_.Send(step.sent)) << step.legend;
        ASSERT_TRUE(WaitForSinkLines(before + step.passed.size())) << step.legend;
        std::this_thread::sleep_for(50ms);
        const Lines all = SinkLines();
        EXPECT_EQ(Lines(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), step.passed)
            << step.legend;
    }
}

// Lines of 250 bytes: each receive takes 1023 bytes, so each of six passes finds four whole lines.
TEST_F(ReceiveLoopTest, TheSixthPassThatTookLinesHandsOnDummyAndClearsTheErrorRadius) {
    Lines lines;
    std::string burst;
    for (int i = 0; i < 24; ++i) {
        std::string body = "PZNTR," + std::to_string(100 + i) + ",";
        body.append(244 - body.size(), 'x');
        lines.push_back(Sentence(body));
        ASSERT_EQ(lines.back().size(), 250u);
        burst += lines.back();
    }
    {
        // Marked as the first line arrives: after any pass without data before the burst.
        std::lock_guard<std::mutex> lock(gSinkMutex);
        gMarkingLine = lines.front();
        gFieldsToMark = {SENSOR_DATA_TYPE_ERROR_RADIUS_METERS, SENSOR_DATA_TYPE_LATITUDE_DEGREES};
    }
    StartStreaming();
    ASSERT_TRUE(peer_.Send(burst));
    ASSERT_TRUE(WaitForSinkLines(25));
    // The error radius is cleared right after "Dummy"; the next pass without data comes a
    // second later.
    const auto deadline = Clock::now() + 500ms;
    while (DataField(SENSOR_DATA_TYPE_ERROR_RADIUS_METERS) != R8(0.0) && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_ERROR_RADIUS_METERS), R8(0.0));
    EXPECT_EQ(DataField(SENSOR_DATA_TYPE_LATITUDE_DEGREES), kMarker) << "not a pass without data";
    lines.push_back("Dummy");
    EXPECT_EQ(SinkLines(), lines);
    // Ending the thread orders its last writes before this read.
    ASSERT_EQ(Sensor().OnClientDisconnect(nullptr, objectId_.data()), S_OK);
    EXPECT_EQ(gRecvPassCount, 0u) << "the counter starts again after the Dummy pass";
}

TEST_F(ReceiveLoopTest, WithNothingReceivedTheTenFieldsBecomeZeroEverySecond) {
    StartStreaming();
    MarkDataFields();
    const Clock::time_point first = WaitForNoDataPass();
    // The whole pass has run once the last of its fields is written.
    std::this_thread::sleep_for(50ms);
    for (const cCatalogueEntry& entry : kSensorDataFieldCatalogue) {
        EXPECT_EQ(DataField(entry.mKey), IsCleared(entry.mKey) ? R8(0.0) : kMarker) << entry.mName;
    }
    MarkDataFields();
    const Clock::time_point second = WaitForNoDataPass();
    EXPECT_GE(second - first, 900ms) << "a pass without data pauses 1000 ms";
    EXPECT_LT(second - first, 3000ms);
    EXPECT_TRUE(SinkLines().empty());
}

// SocketCreateAndConnect on this thread, against hotspots that answer differently.
TEST_F(ReceiveLoopTest, SocketCreateAndConnectGivesASocketOnlyWhenConnected) {
    const int closedPort = zntr::test::FreeLoopbackPort();
    const Lines connected = {"Before Create Sock\n", "Before HTTP Request Sock\n",
                             "Before Connect\n", "Before returning from Connect\n"};
    struct Case {
        const char* legend;
        SimulatorOptions hotspot;
        bool toPeer;  // the stream endpoint leads to the peer, else to a closed port
        int result;
        Lines steps;  // the function's own log lines, in order
    } const cases[] = {
        {"the hotspot serves the stream", Hotspot(), true, 1, connected},
        {"the answer names no port: the default 10110 is used", Hotspot("1", false), true, 1,
         connected},
        {"GPS disabled: no connect",
         Hotspot("0"),
         true,
         0,
         {"Before Create Sock\n", "Before HTTP Request Sock\n"}},
        {"the stream port refuses",
         Hotspot(),
         false,
         0,
         {"Before Create Sock\n", "Before HTTP Request Sock\n", "Before Connect\n"}},
    };
    const Lines ownSteps = {"Before Create Sock\n", "Before HTTP Request Sock\n",
                            "Before Connect\n", "Before returning from Connect\n",
                            "SocketCreateAndConnect returns\n"};
    for (const Case& c : cases) {
        Serve(c.hotspot, c.toPeer ? peer_.port() : closedPort);
        Log();
        EXPECT_EQ(SocketCreateAndConnect(&Sensor()), c.result) << c.legend;
        Lines steps;
        for (const std::string& line : Log()) {
            if (std::find(ownSteps.begin(), ownSteps.end(), line) != ownSteps.end()) {
                steps.push_back(line);
            }
        }
        EXPECT_EQ(steps, c.steps) << c.legend;
        EXPECT_EQ(Sensor().mSocket != 0, c.result == 1) << c.legend;
        if (c.result == 1) {
            EXPECT_TRUE(peer_.Accept(5s)) << c.legend;
            closesocket(Sensor().mSocket);
            Sensor().mSocket = 0;
        }
    }

    // A socket already held: 1 at once, without asking the hotspot.
    Serve(Hotspot(), peer_.port());
    const int asked = hotspot_->http_connections();
    Sensor().mSocket = 0x40;
    Log();
    EXPECT_EQ(SocketCreateAndConnect(&Sensor()), 1);
    EXPECT_EQ(Log(), Lines{"SocketCreateAndConnect returns\n"});
    EXPECT_EQ(hotspot_->http_connections(), asked);
    EXPECT_EQ(Sensor().mSocket, 0x40u);
    Sensor().mSocket = 0;
}

// The thread procedure run on this thread, for the three ways it ends by itself.
TEST_F(ReceiveLoopTest, TheLoopEndsByItselfOnlyWhenItCannotSetUp) {
    Serve(Hotspot("0"), peer_.port());

    Log();
    EXPECT_EQ(GpsRecvThreadProc(nullptr), 0u);
    EXPECT_EQ(Log(), Lines{"GpsRecvThreadProc: invalid cQueue pointer\n"});

    // No storage: the handle stays for the last client's disconnection to close.
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Sensor().mhRecvThread = handle;
    zntr::platform::FailNextHeapAllocations(1);
    EXPECT_EQ(GpsRecvThreadProc(&Sensor()), 0u);
    zntr::platform::FailNextHeapAllocations(0);
    EXPECT_EQ(Log(), Lines{"GpsRecvThreadProc: Failed to intialize the circular buffer\n"});
    EXPECT_EQ(Sensor().mhRecvThread.load(), handle);
    EXPECT_EQ(Sensor().mRecvBuffer.mpData, nullptr);

    // No connection: the storage is released, the handle closed and cleared.
    EXPECT_EQ(GpsRecvThreadProc(&Sensor()), 0u);
    EXPECT_TRUE(Logged(Log(), "GpsRecvThreadProc: Failed to create and connect to the socket"));
    EXPECT_EQ(Sensor().mhRecvThread.load(), nullptr);
    EXPECT_EQ(Sensor().mRecvBuffer.mpData, nullptr);
    EXPECT_EQ(Sensor().mRecvBuffer.mReadIndex + Sensor().mRecvBuffer.mWriteIndex, 0u);
    EXPECT_EQ(Sensor().mSocket, 0u);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(handle)) << "the thread closed its handle";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
