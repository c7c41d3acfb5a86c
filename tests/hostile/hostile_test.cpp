// Hostile and faulty peers against one host running the real driver module: clients that speak
// its wire format wrongly, flood it or are killed, a faulty status page or stream. The host lives
// through each, serves others meanwhile, then serves a new client in full and holds no more
// threads or descriptors than at its baseline. Last, who may connect to its socket at all.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "host_status.h"
#include "listening_socket.h"
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

// One world for every case; a whole feed and a raw read run before the baseline is taken.
class HostileEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        gWorld = new World;
        ASSERT_EQ(gWorld->Run({"watch", "--count", "1"}).status, 0);
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
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
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

    // A new client is served; when it leaves, the feed ends and the host is at its baseline.
    void ExpectANewClientServedAndNothingLeft() {
        SensorSession client(world, "after");
        EXPECT_TRUE(client.WaitForPositionOnTheDrive()) << client.Output() << world.HostOutput();
        EXPECT_TRUE(client.WaitFor(IsState(SENSOR_STATE_READY)));
        EXPECT_EQ(client.Leave(), 0);
        EXPECT_TRUE(world.WaitForFeedToEnd()) << "the feed ends with the last client";
        EXPECT_EQ(world.BackToBaseline(), "");
    }

    World& world = *gWorld;
    const Bytes open = Frame(protocol::OpenMessage{});
};

TEST_F(Hostile, MalformedMessagesCloseOnlyTheirConnection) {
    const Bytes cut = open.substr(0, open.size() - 3);
    const std::uint32_t over = protocol::kMaxMessageSize + 1;
    const Bytes read = Frame(protocol::ReadMessage{9, 1024});
    struct Case {
        const char* legend;
        bool openFirst;
        Bytes bytes;
        bool hostCloses;           // else the client closes
        HRESULT opened = S_FALSE;  // the open's answer to check, if any
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
        {"an open of another protocol version", false, Frame(protocol::OpenMessage{7, ""}), true,
         HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH)},
    };
    // A well-behaved client is subscribed all along and keeps getting positions.
    SensorSession witness(world, "witness");
    ASSERT_TRUE(witness.WaitForPositionOnTheDrive()) << witness.Output();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        {
            RawConnection raw(world.Socket());
            if (c.openFirst) {
                ASSERT_GT(raw.Send(open), 0);
                ASSERT_EQ(OpenedStatus(raw.ReadFrame()), S_OK);
            }
            raw.Send(c.bytes);
            if (c.opened != S_FALSE) {
                EXPECT_EQ(OpenedStatus(raw.ReadFrame()), c.opened) << "an error, then the close";
            }
            if (c.hostCloses) {
                EXPECT_TRUE(raw.WaitForClose()) << "the host closes the connection";
            }
        }
        ASSERT_TRUE(world.HostRuns()) << world.HostOutput();
        EXPECT_TRUE(witness.WaitForPositionOnTheDrive(witness.PositionsOnTheDrive()))
            << witness.Output();
        EXPECT_TRUE(world.WaitForOpensAccepted());
    }
    // Garbage by the connection, half of it meeting an open file.
    for (std::uint32_t seed = 1; seed <= 50; ++seed) {
        RawConnection raw(world.Socket());
        if (seed % 2 == 0) {
            ASSERT_GT(raw.Send(open), 0);
            ASSERT_EQ(OpenedStatus(raw.ReadFrame()), S_OK);
        }
        raw.Send(RandomBytes(seed, 4096));
    }
    EXPECT_EQ(witness.Leave(), 0);
    ExpectANewClientServedAndNothingLeft();
}

// A client floods requests and never reads an answer. The host stops reading a client with 256
// requests at the driver or 1 MiB of answers waiting: what it takes is bounded by those counts.
TEST_F(Hostile, AFloodThatNeverReadsItsAnswersIsReadOnlyUpToTheHostsBound) {
    const std::size_t smallestAnswer = Frame(protocol::CompletedMessage{1, S_OK, {}}).size();
    const std::function<protocol::Message(std::uint64_t)> floods[] = {
        [](std::uint64_t id) {  // refused by the driver at once
            return protocol::DeviceIoControlMessage{id, 0x00228004, 64, {1, 2, 3, 4}};
        },
        [](std::uint64_t id) {  // held by the driver until stream data comes
            return protocol::ReadMessage{id, 1024};
        }};
    // Opened first: while the read flood's file streams, the driver refuses other opens.
    SensorSession witness(world, "witness");
    ASSERT_TRUE(witness.WaitForPositionOnTheDrive()) << witness.Output();
    for (const auto& request : floods) {
        RawConnection flood(world.Socket());
        int queued = 64 << 10;
        socklen_t size = sizeof(queued);
        ::setsockopt(flood.fd(), SOL_SOCKET, SO_SNDBUF, &queued, size);
        ::getsockopt(flood.fd(), SOL_SOCKET, SO_SNDBUF, &queued, &size);  // what the kernel allows
        ASSERT_GT(flood.Send(open), 0);
        ASSERT_EQ(OpenedStatus(flood.ReadFrame()), S_OK);
        // 256 requests at the driver; answers in the host (under 1 MiB, plus those 256 of up to
        // 1 KiB) or in this socket; one receive (64 KiB) not taken apart; this socket's queue.
        const auto bound = [&] {
            int delivered = 0;
            ::ioctl(flood.fd(), FIONREAD, &delivered);
            const std::size_t answered =
                (std::size_t(delivered) + (1u << 20) + 256 * (smallestAnswer + 1024)) /
                smallestAnswer;
            return Frame(request(1)).size() * (256 + answered + 1) + (64u << 10) + queued;
        };
        std::size_t sent = 0;
        std::uint64_t id = 1;
        Bytes batch;
        // Until the socket has taken nothing for a second, or more than the host may read.
        for (int idle = 0; idle < 10 && sent <= bound();) {
            while (batch.size() < (64u << 10)) {
                batch += Frame(request(id++));
            }
            const long taken = flood.Send(batch, false);
            ASSERT_GE(taken, 0) << "the host closed the flooding connection";
            sent += static_cast<std::size_t>(taken);
            batch.erase(0, static_cast<std::size_t>(taken));
            pollfd writable{flood.fd(), POLLOUT, 0};
            idle = taken > 0 || ::poll(&writable, 1, 100) > 0 ? 0 : idle + 1;
        }
        EXPECT_LE(sent, bound()) << "the host reads on a client that does not read its answers";
        EXPECT_TRUE(witness.WaitForPositionOnTheDrive(witness.PositionsOnTheDrive()));
        flood.Close();
        EXPECT_TRUE(world.WaitForStreams(1)) << "the flooding file's raw stream ends with it";
    }
    EXPECT_EQ(witness.Leave(), 0);
    ExpectANewClientServedAndNothingLeft();
}

// The discovery waits as long as the page is silent (the last client's leaving ends it), reads
// two receives at most, and takes a page without a readable "GPSEnable=" for no stream.
TEST_F(Hostile, AFaultyStatusPageLeavesTheHostServingAndNothingBehind) {
    using hotspot::HttpFault;
    using hotspot::SimulatorOptions;
    const std::tuple<const char*, std::function<void(SimulatorOptions&)>, bool> cases[] = {
        {"answers after a silence of 3 s", [](SimulatorOptions& o) { o.timing.delay = 3s; }, true},
        {"trickles its answer out a byte every 25 ms",
         [](SimulatorOptions& o) { o.timing.byte_pause = 25ms; }, false},
        {"accepts the request and never answers",
         [](SimulatorOptions& o) { o.http_fault = HttpFault::kSilent; }, false},
        {"answers with 4 MiB of filler before the keys",
         [](SimulatorOptions& o) { o.answer.filler_bytes = 4 << 20; }, false},
        {"answers with 64 KiB of random binary bytes before the keys",
         [](SimulatorOptions& o) { o.answer.binary_bytes = 64 << 10; }, false},
        {"closes without an answer: the driver falls back to the default endpoint",
         [](SimulatorOptions& o) { o.http_fault = HttpFault::kCloseWithoutAnswer; }, true},
    };
    for (const auto& [legend, fault, streamsDespiteTheFault] : cases) {
        SCOPED_TRACE(legend);
        SimulatorOptions options = World::Simulator();
        fault(options);
        options.faulty_http_connections = 1;  // the next feed meets a sound page
        world.RestartHotspot(options);
        {
            SensorSession faulty(world, "faulty-page");
            ASSERT_TRUE(
                WaitUntil([&] { return world.Hotspot().http_connections() == 1; }, kPatience))
                << "the first client's feed asks the status page";
            EXPECT_EQ(world.Run({"get", "--json"}).status, 0) << "meanwhile others are answered";
            if (streamsDespiteTheFault) {
                EXPECT_TRUE(faulty.WaitForPositionOnTheDrive()) << faulty.Output();
            }
            EXPECT_EQ(faulty.Leave(), 0) << "it stays connected and leaves in order";
        }
        EXPECT_TRUE(world.WaitForFeedToEnd()) << "the feed ends even while a page is silent";
        ExpectANewClientServedAndNothingLeft();
        EXPECT_EQ(world.Hotspot().http_connections(), 2) << "one faulty exchange, one sound";
    }
}

// A stream faulty for its first 60 sentences or silent after its 30th: positions come from where
// the fault ends (epoch 10, 2 s into the drive, comes after both) and the sensor is ready.
TEST_F(Hostile, AFaultyStreamIsLivedThroughAndPositionsComeWhereItEnds) {
    const std::pair<const char*, hotspot::StreamFaultOptions> cases[] = {
        {"garbage before half the sentences", {.garbage_share = 0.5}},
        {"bad checksums on half the sentences", {.bad_checksum_share = 0.5}},
        {"a 5000-byte line without a line feed before a third of the sentences",
         {.long_line_share = 0.3, .long_line_bytes = 5000}},
        {"NUL bytes in a third of the sentences", {.nul_share = 0.3}},
        {"all of it at once, cut across segments",
         {.garbage_share = 0.3,
          .bad_checksum_share = 0.3,
          .long_line_share = 0.2,
          .nul_share = 0.2,
          .split_segments = true}},
        {"a silence, the connection open", {.pause_after_sentences = 30, .pause = 3s}},
    };
    const auto afterTheFault = [&](const nlohmann::json& event) {
        if (!world.Track().Matches(event)) {
            return false;
        }
        const std::string time = event["timestamp"];
        return time.substr(time.find('T')) >= "T12:00:02";
    };
    for (const auto& [legend, faults] : cases) {
        SCOPED_TRACE(legend);
        hotspot::SimulatorOptions options = World::Simulator();
        options.faults = faults;
        options.faults.faulty_sentences = 60;
        options.faults.seed = 5;
        world.RestartHotspot(options);
        SensorSession client(world, "faulty-stream");
        EXPECT_TRUE(client.WaitFor(afterTheFault)) << client.Output() << world.HostOutput();
        EXPECT_TRUE(client.WaitFor(IsState(SENSOR_STATE_READY)));
        EXPECT_EQ(client.Leave(), 0);
        EXPECT_TRUE(world.WaitForFeedToEnd());
        EXPECT_EQ(world.BackToBaseline(), "");
    }
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
    // Each round: three sensor watchers and a raw reader.
    const std::vector<std::vector<std::string>> kinds = {{"watch"}, {"watch"}, {"cat"}, {"watch"}};
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

// The host's socket is its owner's (0600) or also a --socket-group's (0660, folder 0710), from
// the start: it is bound in a private folder and only then moved into place.
TEST(SocketAccess, OnlyTheOwnerOrTheGivenGroupMayConnectAndNothingIsLeftBeside) {
    const TemporaryFolder folder;
    const auto mode = [](const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        return std::make_pair(info.st_mode & 07777, info.st_gid);
    };
    const std::string mine = folder.path() / "made/here", shared = folder.path() / "shared";
    const gid_t group = ::getegid() == 0 ? 65533 : ::getegid();  // another only for root
    {
        host::ListeningSocket owner(mine + "/host.sock", true);
        host::ListeningSocket members(shared + "/host.sock", true, group);
        EXPECT_EQ(mode(mine + "/host.sock").first, 0600u);
        EXPECT_EQ(mode(mine).first, 0700u);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mine), {}), 1)
            << "the private folder the socket was bound in is gone";
        EXPECT_EQ(mode(shared + "/host.sock"), std::make_pair(0660u, group));
        EXPECT_EQ(mode(shared), std::make_pair(0710u, group)) << "the group may pass, not list";
    }
    EXPECT_TRUE(std::filesystem::is_empty(mine)) << "the socket goes too";
    // --socket-group takes a name or a number; zntr host refuses others (the command line tests).
    EXPECT_EQ(host::ResolveGroup("root"), 0u);
    EXPECT_EQ(host::ResolveGroup(std::to_string(::getegid())), ::getegid());
    EXPECT_THROW(host::ResolveGroup("4294967295"), std::runtime_error);
}

}  // namespace
}  // namespace zntr::test
