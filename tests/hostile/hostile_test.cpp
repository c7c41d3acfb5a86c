// Hostile and faulty peers against one host running the real driver module: clients that speak
// its wire format wrongly or flood it without reading, a hotspot whose status page or stream is
// faulty, clients killed at random moments. The host answers with an error or closes that one
// connection; it lives through every fault and serves other clients meanwhile, and once the
// fault is over a new client is served in full and the host holds no more threads or
// descriptors than at its baseline.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstdlib>
#include <iostream>
#include <random>
#include <thread>

#include "host_status.h"
#include "standin/sensors.h"
#include "standin/winerror.h"
#include "wait_until.h"
#include "wire_format.h"
#include "world.h"

namespace zntr::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::string;

World* gWorld = nullptr;

// One world for every case: a clean client runs a whole feed and a raw reader reads once, then
// the host's threads and descriptors become the baseline.
class HostileEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        gWorld = new World;
        {
            SensorSession warmUp(*gWorld, "warm-up");
            ASSERT_TRUE(warmUp.WaitForPositionOnTheDrive()) << warmUp.Output();
            EXPECT_EQ(warmUp.Leave(), 0);
        }
        ASSERT_TRUE(gWorld->WaitForFeedToEnd());
        ASSERT_EQ(gWorld->Run({"cat", "--count", "1"}).status, 0);
        ASSERT_TRUE(gWorld->WaitForFeedToEnd());
        gWorld->TakeBaseline();
    }
    void TearDown() override {
        EXPECT_EQ(gWorld->StopHost(), 0) << "the host stops cleanly\n" << gWorld->HostOutput();
        delete gWorld;
    }
};
testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new HostileEnvironment);

Bytes Frame(const protocol::Message& message) {
    const std::vector<std::uint8_t> frame = protocol::EncodeFrame(message);
    return Bytes(frame.begin(), frame.end());
}

Bytes RandomBytes(std::uint32_t seed, std::size_t count) {
    std::mt19937 random(seed);
    Bytes bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random());
    }
    return bytes;
}

// The status of an opened answer; S_FALSE when the body is anything else.
HRESULT OpenedStatus(const Bytes& body) {
    std::string error;
    const auto message = protocol::DecodeBody(
        {reinterpret_cast<const std::uint8_t*>(body.data()), body.size()}, &error);
    const auto* opened = message ? std::get_if<protocol::OpenedMessage>(&*message) : nullptr;
    return opened != nullptr ? opened->status : S_FALSE;
}

class Hostile : public testing::Test {
  protected:
    void SetUp() override { world.RestartHotspot(World::Simulator()); }

    // A new client gets a position on the drive and a ready sensor, then leaves; the feed ends
    // and the host is back at its baseline.
    void ExpectANewClientServedAndNothingLeft() {
        ASSERT_TRUE(world.HostRuns()) << world.HostOutput();
        SensorSession client(world, "after");
        EXPECT_TRUE(client.WaitForPositionOnTheDrive()) << client.Output() << world.HostOutput();
        EXPECT_TRUE(WaitUntil([&] { return client.LastState() == SENSOR_STATE_READY; }, kPatience));
        EXPECT_EQ(client.Leave(), 0);
        EXPECT_TRUE(world.WaitForFeedToEnd()) << "the feed ends with the last client";
        EXPECT_EQ(world.BackToBaseline(), "");
        if (!kSanitized) {  // a sanitizer's allocator keeps what it likes
            EXPECT_LE(world.ResidentGrowthKiB(), 64 * 1024);
        }
    }

    World& world = *gWorld;
    const Bytes open = Frame(protocol::OpenMessage{});
};

TEST_F(Hostile, MalformedMessagesCloseOnlyTheirConnection) {
    Bytes cut = open;
    cut.resize(cut.size() - 3);
    const std::uint32_t over = protocol::kMaxMessageSize + 1;
    const Bytes read = Frame(protocol::ReadMessage{9, 1024});
    struct Case {
        const char* legend;
        bool openFirst;
        Bytes bytes;
        bool hostCloses;  // else the client closes
    };
    const Case cases[] = {
        {"a frame cut short, then the connection closes", false, cut, false},
        {"a length field of 4 GiB - 1", false, Bytes("\xff\xff\xff\xff\x01\0\0\0", 8), true},
        {"a length field of 0", false, Bytes("\0\0\0\0\x01", 5), true},
        {"a length just over the limit, body never sent", false,
         Bytes{char(over), char(over >> 8), char(over >> 16), 0}, true},
        {"an unknown message type", false, Bytes("\x04\0\0\0\x7e\x01\x02\x03", 8), true},
        {"an answer's type sent to the host", false, Frame(protocol::OpenedMessage{}), true},
        {"64 KiB of random bytes", false, RandomBytes(20261206, 64 << 10), true},
        {"a read before any open", false, read, true},
        {"a request id used again while its read is pending", true, read + read, true},
        {"an open, then a second open", true, open, true},
    };
    // A well-behaved client is subscribed all along and keeps getting positions.
    SensorSession witness(world, "witness");
    ASSERT_TRUE(witness.WaitForPositionOnTheDrive()) << witness.Output();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        {
            RawConnection raw(world.Socket());
            if (c.openFirst) {
                ASSERT_TRUE(raw.Send(open));
                ASSERT_EQ(OpenedStatus(raw.ReadFrame()), S_OK);
            }
            raw.Send(c.bytes);
            if (c.hostCloses) {
                EXPECT_TRUE(raw.WaitForClose()) << "the host closes the connection";
            }
        }
        ASSERT_TRUE(world.HostRuns()) << world.HostOutput();
        EXPECT_TRUE(witness.WaitForPositionOnTheDrive(witness.Count(IsData))) << witness.Output();
        EXPECT_TRUE(world.WaitForOpensAccepted());
    }
    {
        RawConnection other(world.Socket());
        other.Send(Frame(protocol::OpenMessage{7, ""}));
        EXPECT_EQ(OpenedStatus(other.ReadFrame()), HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH))
            << "an open of another protocol version: an error, then the close";
        EXPECT_TRUE(other.WaitForClose());
    }
    // Garbage by the connection, half of it meeting an open file.
    for (std::uint32_t seed = 1; seed <= 50; ++seed) {
        RawConnection raw(world.Socket());
        if (seed % 2 == 0) {
            ASSERT_TRUE(raw.Send(open));
            ASSERT_EQ(OpenedStatus(raw.ReadFrame()), S_OK);
        }
        raw.Send(RandomBytes(seed, 4096));
    }
    EXPECT_EQ(witness.Leave(), 0);
    ExpectANewClientServedAndNothingLeft();
}

// A client sends requests as fast as its socket takes them and never reads an answer. The host
// stops reading a client that has 256 requests at the driver or 1 MiB of answers waiting, so
// what it takes from the client is bounded by what those counts allow; the rest waits in the
// client's own socket, and the host goes on serving others.
TEST_F(Hostile, AFloodThatNeverReadsItsAnswersIsReadOnlyUpToTheHostsBound) {
    struct Flood {
        const char* legend;
        std::function<protocol::Message(std::uint64_t id)> request;
        std::size_t largestAnswer;
    };
    const std::size_t smallestAnswer = Frame(protocol::CompletedMessage{1, S_OK, {}}).size();
    const Flood floods[] = {
        {"device I/O control requests the driver refuses",
         [](std::uint64_t id) {
             return protocol::DeviceIoControlMessage{id, 0x00228004, 64, {1, 2, 3, 4}};
         },
         smallestAnswer + 64},
        {"reads, which the driver holds until stream data comes",
         [](std::uint64_t id) {
             return protocol::ReadMessage{id, 1024};
         },
         smallestAnswer + 1024},
    };
    // Opened first: while the read flood's file streams, the driver refuses other opens.
    SensorSession witness(world, "witness");
    ASSERT_TRUE(witness.WaitForPositionOnTheDrive()) << witness.Output();
    for (const Flood& f : floods) {
        SCOPED_TRACE(f.legend);
        RawConnection flood(world.Socket());
        int queued = 64 << 10;
        socklen_t size = sizeof(queued);
        ::setsockopt(flood.fd(), SOL_SOCKET, SO_SNDBUF, &queued, size);
        ::getsockopt(flood.fd(), SOL_SOCKET, SO_SNDBUF, &queued, &size);  // what the kernel allows
        ASSERT_TRUE(flood.Send(open));
        ASSERT_EQ(OpenedStatus(flood.ReadFrame()), S_OK);
        const std::size_t requestSize = Frame(f.request(1)).size();
        // The host holds at most 256 requests at the driver; it answers others into its own
        // buffer (under 1 MiB when it reads on, plus the completions of those 256) and into
        // this socket; it may hold one receive (64 KiB) not yet taken apart; and this socket
        // holds what it has queued.
        const auto bound = [&] {
            int delivered = 0;
            ::ioctl(flood.fd(), FIONREAD, &delivered);
            const std::size_t answered =
                (std::size_t(delivered) + (1u << 20) + 256 * f.largestAnswer) / smallestAnswer;
            return requestSize * (256 + answered + 1) + (64u << 10) + std::size_t(queued);
        };
        std::size_t sent = 0;
        std::uint64_t id = 1;
        Bytes batch;
        // Until the socket has taken nothing for a second, or more than the host may read.
        for (int idle = 0; idle < 10 && sent <= bound();) {
            while (batch.size() < (64u << 10)) {
                const Bytes frame = Frame(f.request(id++));
                batch.insert(batch.end(), frame.begin(), frame.end());
            }
            const long taken = flood.SendSome(batch);
            ASSERT_GE(taken, 0) << "the host closed the flooding connection";
            sent += static_cast<std::size_t>(taken);
            batch.erase(batch.begin(), batch.begin() + taken);
            pollfd writable{flood.fd(), POLLOUT, 0};
            idle = taken > 0 || ::poll(&writable, 1, 100) > 0 ? 0 : idle + 1;
        }
        std::cout << "[ flood    ] " << f.legend << ": " << sent << " bytes taken, bound "
                  << bound() << "\n";
        EXPECT_LE(sent, bound()) << "the host reads on a client that does not read its answers";
        EXPECT_TRUE(witness.WaitForPositionOnTheDrive(witness.Count(IsData)))
            << "others are served";
        flood.Close();
        ASSERT_TRUE(world.HostRuns()) << world.HostOutput();
        EXPECT_TRUE(world.WaitForStreams(1)) << "the flooding file's raw stream ends with it";
    }
    EXPECT_EQ(witness.Leave(), 0);
    ExpectANewClientServedAndNothingLeft();
}

// The driver's discovery has no timeout of its own: a blocking receive waits as long as the page
// is silent, and the last client's leaving ends the feed's thread. It reads at most two receives
// of an answer, and takes a page without a readable "GPSEnable=" for a hotspot without a stream.
TEST_F(Hostile, AFaultyStatusPageLeavesTheHostServingAndNothingBehind) {
    using hotspot::HttpFault;
    using hotspot::SimulatorOptions;
    struct Case {
        const char* legend;
        std::function<void(SimulatorOptions&)> fault;
        bool streamsDespiteTheFault;
    };
    const Case cases[] = {
        {"answers after a silence of 3 s", [](SimulatorOptions& o) { o.timing.delay = 3s; }, true},
        {"trickles its answer out a byte every 25 ms",
         [](SimulatorOptions& o) { o.timing.byte_pause = 25ms; }, false},
        {"accepts the request and never answers",
         [](SimulatorOptions& o) { o.http_fault = HttpFault::kSilent; }, false},
        {"answers with 4 MiB of filler before the keys",
         [](SimulatorOptions& o) { o.answer.filler_bytes = 4 << 20; }, false},
        {"answers with 64 KiB of random binary bytes before the keys",
         [](SimulatorOptions& o) { o.answer.binary_bytes = 64 << 10; }, false},
        {"closes without an answer (the driver falls back to the default endpoint)",
         [](SimulatorOptions& o) { o.http_fault = HttpFault::kCloseWithoutAnswer; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        SimulatorOptions options = World::Simulator();
        c.fault(options);
        options.faulty_http_connections = 1;  // the next feed meets a sound page
        world.RestartHotspot(options);
        {
            SensorSession faulty(world, "faulty-page");
            ASSERT_TRUE(
                WaitUntil([&] { return world.Hotspot().http_connections() == 1; }, kPatience))
                << "the first client's feed asks the status page";
            EXPECT_EQ(world.Run({"get", "--json"}).status, 0) << "meanwhile others are answered";
            if (c.streamsDespiteTheFault) {
                EXPECT_TRUE(faulty.WaitForPositionOnTheDrive()) << faulty.Output();
            }
            EXPECT_EQ(faulty.Leave(), 0) << "it stays connected and leaves in order";
        }
        EXPECT_TRUE(world.WaitForFeedToEnd()) << "the feed ends even while a page is silent";
        ExpectANewClientServedAndNothingLeft();
        EXPECT_EQ(world.Hotspot().http_connections(), 2) << "one faulty exchange, one sound";
    }
}

// Each stream is faulty for its first 60 sentences, then sound: the client that saw the fault
// gets positions on the drive where it ends.
TEST_F(Hostile, AFaultyStreamIsLivedThroughAndPositionsComeWhereItEnds) {
    struct Case {
        const char* legend;
        std::function<void(hotspot::StreamFaultOptions&)> fault;
    };
    const Case cases[] = {
        {"garbage before half the sentences", [](auto& f) { f.garbage_share = 0.5; }},
        {"bad checksums on half the sentences", [](auto& f) { f.bad_checksum_share = 0.5; }},
        {"a 5000-byte line without a line feed before a third of the sentences",
         [](auto& f) {
             f.long_line_share = 0.3;
             f.long_line_bytes = 5000;
         }},
        {"NUL bytes in a third of the sentences", [](auto& f) { f.nul_share = 0.3; }},
        {"all of it at once, cut across segments",
         [](auto& f) {
             f.garbage_share = f.bad_checksum_share = 0.3;
             f.long_line_share = f.nul_share = 0.2;
             f.split_segments = true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        hotspot::SimulatorOptions options = World::Simulator();
        c.fault(options.faults);
        options.faults.faulty_sentences = 60;
        options.faults.seed = 5;
        world.RestartHotspot(options);
        SensorSession client(world, "faulty-stream");
        EXPECT_TRUE(client.WaitForPositionOnTheDrive()) << client.Output() << world.HostOutput();
        EXPECT_EQ(client.Leave(), 0);
        EXPECT_TRUE(world.WaitForFeedToEnd());
        EXPECT_EQ(world.BackToBaseline(), "");
    }
    ExpectANewClientServedAndNothingLeft();
}

// The stream stops after its 30th sentence (in the drive's fourth epoch, 0.6 s of drive time)
// for three seconds and goes on where it stopped: positions come from both sides of the silence.
TEST_F(Hostile, AStreamThatStopsAndResumesBringsPositionsBack) {
    hotspot::SimulatorOptions options = World::Simulator();
    options.faults.pause_after_sentences = 30;
    options.faults.pause = 3s;
    world.RestartHotspot(options);
    SensorSession client(world, "silence");
    const auto positionAt = [&](bool late) {
        return [&, late](const nlohmann::json& event) {
            const std::string time = event.value("timestamp", "");
            const std::string clock = time.substr(std::min(time.find('T'), time.size()));
            return world.Track().Matches(event) &&
                   (late ? clock >= "T12:00:01" : clock < "T12:00:00.6");
        };
    };
    EXPECT_TRUE(client.WaitFor(positionAt(false))) << client.Output();
    EXPECT_TRUE(client.WaitFor(positionAt(true))) << client.Output();
    EXPECT_TRUE(WaitUntil([&] { return client.LastState() == SENSOR_STATE_READY; }, kPatience));
    EXPECT_EQ(client.Leave(), 0);
    ExpectANewClientServedAndNothingLeft();
}

// Client processes killed at random moments: while they open the device, connect, subscribe,
// read the raw stream or wait for events. The seed is printed; ZNTR_HOSTILE_SEED replays it.
TEST_F(Hostile, ClientsKilledAtRandomMomentsLeaveNoFeedAndNothingBehind) {
    const char* given = std::getenv("ZNTR_HOSTILE_SEED");
    const std::uint32_t seed =
        given != nullptr ? std::uint32_t(std::strtoul(given, nullptr, 10)) : std::random_device{}();
    std::cout << "[ seed     ] ZNTR_HOSTILE_SEED=" << seed << "\n";
    std::mt19937 random(seed);
    // Each round: three sensor watchers and a raw reader (a second raw reader in a round is
    // refused while the first streams, and ends by itself).
    const std::vector<std::vector<std::string>> kinds = {
        {"watch", "--json"}, {"watch", "--json"}, {"cat"}, {"watch"}};
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<std::unique_ptr<ChildProcess>> clients;
        const auto start = std::chrono::steady_clock::now();
        for (const auto& kind : kinds) {
            clients.push_back(world.Start(kind, "/dev/null"));
            ASSERT_NE(clients.back(), nullptr);
        }
        for (const auto& client : clients) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(random() % 2500));
            ::kill(client->pid(), SIGKILL);
        }
        clients.clear();  // reaps them
        ASSERT_TRUE(world.HostRuns()) << world.HostOutput();
        EXPECT_TRUE(world.WaitForFeedToEnd()) << "the feed ends once the last client is gone";
    }
    ExpectANewClientServedAndNothingLeft();
}

}  // namespace
}  // namespace zntr::test
