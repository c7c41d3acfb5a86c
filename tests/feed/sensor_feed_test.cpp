// The sensor's feed against a status page and a stream on loopback whose every part the test
// sends: the receive loop's passes (four lines at most, "Dummy" on every sixth that took lines,
// the ten fields an empty pass zeroes), its endings, and the feed as the clients start and end it
// (one thread for all clients, ended by the last one at whatever blocking call it waits in, or
// just as it gives up by itself).
//
// This program replaces the line sink: the one below records each line (where a test may hold
// it), runs the test's hook on it, and then, as the sensor's does, writes a data field under the
// sensor lock. The linker then leaves the sensor's own sink out.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <optional>
#include <thread>

#include "call_recorder.h"
#include "driver_log.h"
#include "framework_device.h"
#include "framework_world.h"
#include "standin/network_control.h"
#include "standin/resource_control.h"
#include "status_page.h"
#include "wait_until.h"

// Driver headers last: they rename the C runtime's number readers.
#include "critical_section_lock.h"
#include "debug_log.h"
#include "gps_port_info.h"
#include "prop_variant.h"
#include "sensor_ddi.h"
#include "sensor_receive_loop.h"

namespace {

zntr::test::CallRecorder gSink;  // a line's "method" is the line itself
std::function<void(const std::string&)> gOnLine;

}  // namespace

void ProcessNMEALine(const char* pLine) {
    gSink.Record(pLine);
    if (gOnLine) {
        gOnLine(pLine);
    }
    cPropVariant count;
    count.vt = VT_I4;
    count.lVal = static_cast<LONG>(gSink.Calls().size());
    gpSensorDDI->SetDataFieldValue(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES, &count);
}

namespace {

using namespace zntr::test;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using Value = std::pair<VARTYPE, double>;

// What a pass without data sets to VT_R8 0.0.
const PROPERTYKEY kZeroedWhenSilent[] = {SENSOR_DATA_TYPE_ERROR_RADIUS_METERS,
                                         SENSOR_DATA_TYPE_ALTITUDE_ELLIPSOID_METERS,
                                         SENSOR_DATA_TYPE_ALTITUDE_SEALEVEL_METERS,
                                         SENSOR_DATA_TYPE_HORIZONAL_DILUTION_OF_PRECISION,
                                         SENSOR_DATA_TYPE_LATITUDE_DEGREES,
                                         SENSOR_DATA_TYPE_LONGITUDE_DEGREES,
                                         SENSOR_DATA_TYPE_SATELLITES_USED_COUNT,
                                         SENSOR_DATA_TYPE_FIX_QUALITY,
                                         SENSOR_DATA_TYPE_TIMESTAMP,
                                         SENSOR_DATA_TYPE_SPEED_KNOTS};
constexpr Value kMarked{VT_I4, -4242};
constexpr Value kZero{VT_R8, 0.0};

class SensorFeed : public ::testing::Test {
  protected:
    void SetUp() override {
        gEnableLog = 1;
        gSink.Clear();
        gOnLine = nullptr;
        Serve({{"GPSEnable=1\x1bWwIpaddr=127.0.0.1\x1bWwPort=" + std::to_string(stream_.Port()) +
                "\x1b"}});
        zntr::host::CreateFrameworkDevice(L"ROOT\\ZNTR\\0", {}, device_.GetAddressOf());
        cSensorDDI::CreateInstance(&gpSensorDDI);
        gpSensorDDI->AddRef();
        ASSERT_EQ(gpSensorDDI->Initialize(L"ROOT\\ZNTR\\0", device_.Get()), S_OK);
        gRecvPassCount = 0;
        log_.Take();
    }
    void TearDown() override {
        gpSensorDDI->EndFeed();
        std::exchange(gpSensorDDI, nullptr)->Release();
        gEnableLog = 0;
    }

    cSensorDDI& Sensor() { return *gpSensorDDI; }
    void Serve(PeerScript script, ScriptedPeer::Door door = ScriptedPeer::Door::kAccepting) {
        network_.reset();
        status_ = std::make_unique<ScriptedPeer>(std::move(script), door);
        network_.emplace(zntr::platform::NetworkSettings{StatusPageMap(true, status_->Port())});
    }
    HRESULT Connect() { return Sensor().OnClientConnect(nullptr, id_.data()); }
    HRESULT Disconnect() { return Sensor().OnClientDisconnect(nullptr, id_.data()); }
    bool Streaming() {
        return WaitUntil([&] { return stream_.OpenConnections() == 1; }, 30s);
    }
    // No thread, socket or storage left, and every connection closed at the hotspot.
    bool Ended() {
        return Sensor().mhRecvThread.load() == nullptr && Sensor().mSocket == 0 &&
               Sensor().mRecvBuffer.mpData == nullptr &&
               WaitUntil(
                   [&] { return stream_.OpenConnections() + status_->OpenConnections() == 0; },
                   30s);
    }
    Value Field(REFPROPERTYKEY key) {
        cPropVariant value;
        cCriticalSectionLock lock(Sensor().mSensorLock);
        Sensor().mpSensorDataFields->GetValue(key, &value);
        return {value.vt, value.vt == VT_R8 ? value.dblVal : value.vt == VT_I4 ? value.lVal : 0};
    }
    // Every data field marked, at once for the receive thread, which writes under the same lock.
    void MarkFields() {
        cCriticalSectionLock lock(Sensor().mSensorLock);
        DWORD count = 0;
        Sensor().mpSensorDataFields->GetCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            PROPERTYKEY key;
            cPropVariant value;
            Sensor().mpSensorDataFields->GetAt(i, &key, &value);
            value.Clear();
            value.vt = kMarked.first;
            value.lVal = static_cast<LONG>(kMarked.second);
            Sensor().mpSensorDataFields->SetValue(key, &value);
        }
    }

    ComApartment apartment_;
    DriverLog log_;
    ScriptedPeer stream_{{{}, false, false, false}};
    std::unique_ptr<ScriptedPeer> status_;
    std::optional<zntr::platform::ScopedNetworkSettings> network_;
    ComPtr<IWDFDevice> device_;
    std::wstring id_ = L"ZntrVComLocation";
};

// Six receives of seven lines each (each pass's first line puts the next in the socket): a pass
// takes four lines from the ring, so the rest piles up, and the sixth pass's lines are the 21st
// to 24th, with "Dummy" after them. The "Dummy" pass zeroes the error radius; the pass after it
// (its data already waiting: no pass without data between) finds it zero and the latitude as it
// was.
TEST_F(SensorFeed, APassTakesFourLinesAndTheSixthHandsOnDummy) {
    Lines sent;
    std::vector<std::string> texts(7);
    for (int i = 0; i < 43; ++i) {
        sent.push_back("$GPTXT,LINE " + std::to_string(i + 1) + "\r\n");
        texts[static_cast<std::size_t>(i / 7)] += sent.back();
    }
    Value radius;
    Value latitude;
    gOnLine = [&](const std::string& line) {
        for (std::size_t pass = 1; pass < 6; ++pass) {
            if (line == sent[4 * (pass - 1)]) {
                stream_.Deliver(texts[pass]);
            }
        }
        if (line == sent[20]) {
            MarkFields();
        } else if (line == "Dummy") {
            stream_.Deliver(texts[6]);
        } else if (line == sent[24]) {
            radius = Field(SENSOR_DATA_TYPE_ERROR_RADIUS_METERS);
            latitude = Field(SENSOR_DATA_TYPE_LATITUDE_DEGREES);
        }
    };
    ASSERT_EQ(Connect(), S_OK);
    ASSERT_TRUE(Streaming());
    ASSERT_TRUE(stream_.Send(texts[0]));
    ASSERT_TRUE(WaitUntil([&] { return gSink.Calls().size() >= 29; }, 30s));
    Lines expected(sent.begin(), sent.begin() + 24);
    expected.push_back("Dummy");
    expected.insert(expected.end(), sent.begin() + 24, sent.begin() + 28);
    const Lines lines = gSink.Calls();
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 29), expected);
    EXPECT_EQ(radius, kZero);
    EXPECT_EQ(latitude, kMarked);
}

// A pass that receives nothing zeroes the ten fields (the speed last), and only those.
TEST_F(SensorFeed, APassWithoutDataZeroesTheTenFields) {
    ASSERT_EQ(Connect(), S_OK);
    ASSERT_TRUE(Streaming());
    MarkFields();
    ASSERT_TRUE(WaitUntil([&] { return Field(SENSOR_DATA_TYPE_SPEED_KNOTS) == kZero; }, 30s));
    for (const PROPERTYKEY& key : kZeroedWhenSilent) {
        EXPECT_EQ(Field(key), kZero) << key.pid;
    }
    EXPECT_EQ(Field(SENSOR_DATA_TYPE_TRUE_HEADING_DEGREES), kMarked);
}

// An over-long line (1,500 bytes, no line feed) fills the ring's line window: it is passed on cut
// to the output, and the sentence after the one glued to its end reaches the sink in the pass
// that receives it, not after the ring has lapped.
TEST_F(SensorFeed, AnOverLongLineHoldsNoSentenceBack) {
    const std::string longLine = "$GPTXT," + std::string(1493, 'x');
    ASSERT_EQ(Connect(), S_OK);
    ASSERT_TRUE(Streaming());
    ASSERT_TRUE(stream_.Send(longLine));
    ASSERT_TRUE(stream_.Send("$GPTXT,GLUED\r\n"));
    ASSERT_TRUE(stream_.Send("$GPTXT,NEXT\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return gSink.Calls().size() >= 2; }, 30s));
    EXPECT_EQ(gSink.Calls(), (Lines{longLine.substr(0, 1022) + "\n", "$GPTXT,NEXT\r\n"}));
}

// The thread procedure run here ends by itself only without a sensor, without storage (its
// handle stays for the last client to close) or without a connection (storage and handle go).
TEST_F(SensorFeed, TheThreadEndsByItselfOnlyWhenItCannotSetUp) {
    Serve({{"GPSEnable=0\x1bWwPort=1\x1b"}});
    EXPECT_EQ(GpsRecvThreadProc(nullptr), 0u);
    const HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Sensor().mhRecvThread = handle;
    zntr::platform::FailNextHeapAllocations(1);
    EXPECT_EQ(GpsRecvThreadProc(&Sensor()), 0u);
    zntr::platform::FailNextHeapAllocations(0);
    EXPECT_EQ(Sensor().mhRecvThread.load(), handle);
    EXPECT_EQ(GpsRecvThreadProc(&Sensor()), 0u);
    EXPECT_EQ(
        log_.Take(),
        (Lines{"GpsRecvThreadProc: invalid cQueue pointer\n",
               "GpsRecvThreadProc: Failed to intialize the circular buffer\n",
               "Before Create Sock\n", "Before HTTP Request Sock\n", "getaddrinfo returns 0,\n",
               "connected to dns\n", "HTTP Response :GPSEnable=0\x1bWwPort=1\x1b\n",
               "Gps Port is not Enabled on the device\n",
               "GpsRecvThreadProc: Failed to create and connect to the socket"}));
    EXPECT_TRUE(Ended());
    EXPECT_FALSE(CloseHandle(handle)) << "the thread closed its own handle";
}

// The stream's set-up keeps a socket already held, asking nothing; a socket that cannot be made
// (the stream's or the discovery's) or a refusing stream port gives 0 and leaves no socket.
TEST_F(SensorFeed, TheStreamSetUpHoldsASocketOnlyOnceConnected) {
    Sensor().mSocket = 0x40;
    EXPECT_EQ(SocketCreateAndConnect(&Sensor()), 1);
    Sensor().mSocket = 0;
    zntr::platform::FailNextSocketCreations(1);
    EXPECT_EQ(SocketCreateAndConnect(&Sensor()), 0);
    char address[PORT_QUERY_ADDRESS_SIZE] = {};
    int port = 0;
    zntr::platform::FailNextSocketCreations(1);
    EXPECT_EQ(QueryGpsPortInfo(address, &port, nullptr), 0);
    EXPECT_EQ(status_->Connections(), 0);
    Serve({{"GPSEnable=1\x1bWwIpaddr=127.0.0.1\x1bWwPort=1\x1b"}});
    EXPECT_EQ(SocketCreateAndConnect(&Sensor()), 0);
    EXPECT_EQ(Sensor().mSocket, 0u);
    EXPECT_EQ(log_.Count("Failed to create the socket\n"), 1u);
    EXPECT_EQ(log_.Count("Before Connect\n"), 1u);
}

// A feed that gave up leaves its clients connected; only a client that finds none connected
// starts it again. And when it gives up just as the last client leaves, whichever comes first,
// the thread is ended or closes its handle once, and the storage is released once.
TEST_F(SensorFeed, AFeedThatGivesUpIsStartedAgainOnlyByANewFirstClient) {
    Serve({{"GPSEnable=0\x1bWwPort=1\x1b"}});
    ASSERT_EQ(Connect(), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return Sensor().mhRecvThread.load() == nullptr; }, 30s));
    ASSERT_EQ(Connect(), S_OK);
    EXPECT_EQ(Sensor().mhRecvThread.load(), nullptr) << "a second client started no thread";
    ASSERT_EQ(Disconnect(), S_OK);
    ASSERT_EQ(Disconnect(), S_OK);
    EXPECT_EQ(status_->Connections(), 1);
    CallRecorder givingUp;
    log_.OnMessage("GpsRecvThreadProc: Failed to create and connect to the socket",
                   [&] { givingUp.Record("GiveUp"); });
    for (std::size_t round = 1; round <= 10; ++round) {
        ASSERT_EQ(Connect(), S_OK);
        ASSERT_TRUE(givingUp.WaitForCalls("GiveUp", round));
        ASSERT_EQ(Disconnect(), S_OK);
        ASSERT_TRUE(Ended()) << "round " << round;
    }
    EXPECT_EQ(status_->Connections(), 11);
}

// The last client's disconnection ends the thread wherever it waits, and nothing the thread
// held stays held: its connections close, and the sensor's and the parser's locks are free.
TEST_F(SensorFeed, TheLastClientEndsTheThreadAtEachBlockingCall) {
    const auto locksFree = [&] {
        bool free = false;
        std::thread([&] {
            free = TryEnterCriticalSection(&Sensor().mSensorLock) &&
                   TryEnterCriticalSection(&Sensor().mNMEAParser.mLock);
            LeaveCriticalSection(&Sensor().mNMEAParser.mLock);
            LeaveCriticalSection(&Sensor().mSensorLock);
        }).join();
        return free;
    };
    const std::string answer = "GPSEnable=1\x1bWwIpaddr=127.0.0.1\x1bWwPort=";
    ScriptedPeer hanging({}, ScriptedPeer::Door::kHanging);
    const struct {
        const char* where;
        PeerScript page;
        ScriptedPeer::Door door;
        std::function<bool()> reached;
    } cases[] = {
        {"the discovery's receive",
         {{}, true, true},
         ScriptedPeer::Door::kAccepting,
         [&] {
             const Lines received = status_->Received();
             return !received.empty() && received[0].ends_with("\r\n\r\n");
         }},
        {"the discovery's pause",
         {},
         ScriptedPeer::Door::kRefusing,
         [&] { return log_.Count("Failed to connect to the http port\n") > 0; }},
        {"the stream's connect",
         {{answer + std::to_string(hanging.Port()) + "\x1b"}},
         ScriptedPeer::Door::kAccepting,
         [&] { return log_.Count("Before Connect\n") > 0; }},
        {"the pause after an empty receive",
         {{answer + std::to_string(stream_.Port()) + "\x1b"}},
         ScriptedPeer::Door::kAccepting,
         [&] { return Field(SENSOR_DATA_TYPE_SPEED_KNOTS) == kZero; }},
        // The line's field is written under the sensor lock, which this thread takes as the
        // line waits at the gate, and holds while the disconnection ends the thread.
        {"the wait for the sensor lock",
         {{answer + std::to_string(stream_.Port()) + "\x1b"}},
         ScriptedPeer::Door::kAccepting,
         [&] {
             return Streaming() && stream_.Deliver("$HELD\r\n") &&
                    gSink.WaitForCalls("$HELD\r\n", 1);
         }},
    };
    for (const auto& c : cases) {
        gSink.CloseGate("$HELD\r\n");
        Serve(c.page, c.door);
        log_.Take();
        MarkFields();
        ASSERT_EQ(Connect(), S_OK);
        ASSERT_TRUE(WaitUntil(c.reached, 30s, 2ms)) << c.where;
        {
            cCriticalSectionLock hold(Sensor().mSensorLock);
            gSink.OpenGate("$HELD\r\n");
            ASSERT_EQ(Disconnect(), S_OK);
        }
        EXPECT_TRUE(Ended()) << c.where;
        EXPECT_TRUE(locksFree()) << c.where;
        EXPECT_EQ(log_.Count("Before returning from Connect\n"), &c >= &cases[3] ? 1u : 0u);
    }
}

}  // namespace

// Clients come and go on threads of their own, overlapping, while others subscribe and run the
// power hooks: the feed is started and ended wherever its thread happens to be, and afterwards
// nothing of it is left (and, under the thread sanitizer, no access raced).
TEST_F(SensorFeed, ClientsComingAndGoingAtOnceLeaveNothingBehind) {
    std::atomic<bool> running{true};
    std::thread others([&] {
        while (running) {
            Sensor().OnClientSubscribeToEvents(nullptr, id_.data());
            Sensor().PrepareToSleep();
            Sensor().PrepareRemoval();
            Sensor().OnClientUnsubscribeFromEvents(nullptr, id_.data());
        }
    });
    for (int cycle = 0; cycle < 20; ++cycle) {
        std::vector<std::thread> clients;
        for (int client = 0; client < 3; ++client) {
            clients.emplace_back([&, cycle, client] {
                EXPECT_EQ(Connect(), S_OK);
                std::this_thread::sleep_for(
                    std::chrono::milliseconds((cycle * 7 + client * 13) % 30));
                EXPECT_EQ(Disconnect(), S_OK);
            });
        }
        for (std::thread& client : clients) {
            client.join();
        }
        ASSERT_TRUE(Ended()) << "cycle " << cycle;
    }
    running = false;
    others.join();
    EXPECT_EQ(Sensor().mSubscriberCount, 0u);
}
