// The whole system in processes, end to end: the hotspot simulator, a framework host running the
// real driver module, sensor clients (`zntr watch --json`), a raw reader (`zntr cat`), the power
// and Plug and Play commands, and the command line as a user runs it: watch, get, cat, demo,
// hotspot and discover, with their error paths. Everything stays on loopback.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "standin/sensors.h"
#include "wait_until.h"
#include "world.h"

namespace zntr::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class SystemTest : public testing::Test {
  protected:
    // One world for the cases that leave it as they found it, made again once a case has
    // stopped its host.
    static World& Shared() {
        if (!shared_ || !shared_->HostRuns()) {
            shared_ = std::make_unique<World>();
        }
        return *shared_;
    }
    static void TearDownTestSuite() {
        if (shared_ && shared_->HostRuns()) {
            EXPECT_EQ(shared_->StopHost(), 0) << shared_->HostOutput();
        }
        shared_.reset();
    }
    static inline std::unique_ptr<World> shared_;
};

TEST_F(SystemTest, ClientsShareOneFeedThatOutlivesAKilledClientAndEndsWithTheLast) {
    World& world = Shared();
    const int accepted = world.AcceptedStreams();
    std::vector<std::unique_ptr<SensorSession>> clients;
    for (const char* name : {"killed", "leaving", "last"}) {
        clients.push_back(std::make_unique<SensorSession>(world, name));
    }
    for (const auto& client : clients) {
        ASSERT_TRUE(client->WaitForPositionOnTheDrive()) << client->Output();
    }
    EXPECT_EQ(world.AcceptedStreams(), accepted + 1) << "one feed for all clients";
    EXPECT_EQ(world.Hotspot().open_stream_connections(), 1);

    // Sleep makes a ready sensor initialising, and the next position ready again: every
    // subscriber sees both.
    std::vector<int> ready;
    for (const auto& client : clients) {
        ready.push_back(client->Count(IsState(SENSOR_STATE_READY)));
    }
    ASSERT_EQ(world.Run({"power", "sleep"}).status, 0);
    ASSERT_EQ(world.Run({"power", "wake"}).status, 0);
    for (std::size_t i = 0; i < clients.size(); ++i) {
        EXPECT_TRUE(clients[i]->WaitFor(IsState(SENSOR_STATE_INITIALIZING)))
            << clients[i]->Output();
        EXPECT_TRUE(clients[i]->WaitFor(IsState(SENSOR_STATE_READY), ready[i] + 1));
    }

    // One dies without leaving (the host cleans its file up), one leaves: the last goes on.
    clients[0]->Kill();
    EXPECT_EQ(clients[1]->Leave(), 0) << clients[1]->Output();
    const int data = clients[2]->Count(IsData);
    EXPECT_TRUE(clients[2]->WaitForPositionOnTheDrive(data)) << "the last client still gets data";
    EXPECT_EQ(world.Hotspot().open_stream_connections(), 1);
    EXPECT_EQ(clients[2]->Leave(), 0);
    EXPECT_TRUE(world.WaitForFeedToEnd()) << "the feed ends with the last client";
    EXPECT_EQ(world.AcceptedStreams(), accepted + 1);
}

TEST_F(SystemTest, ARawReaderGetsTheBytesTheHotspotSentAndEveryOtherOpenIsRefused) {
    World& world = Shared();
    const int index = world.Hotspot().stream_connections();
    const std::string output = world.Folder() + "/cat.out";
    const auto cat = world.Start({"cat"}, output);
    ASSERT_TRUE(WaitUntil([&] { return ReadTextFile(output).size() >= 2000; }, kPatience));
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"watch", "--count", "1"}, {"get"}, {"cat", "--count", "1"}}) {
        const CommandResult refused = world.Run(words);
        EXPECT_EQ(refused.status, 1) << words[0];
        EXPECT_TRUE(Contains(refused.output, "a raw NMEA stream is running")) << refused.output;
    }
    EXPECT_EQ(cat->InterruptAndWait(kPatience), 0) << "Ctrl-C ends zntr cat normally";
    const std::string received = ReadTextFile(output);
    const std::string sent = world.Hotspot().stream_bytes(index);
    ASSERT_GE(sent.size(), received.size());
    EXPECT_EQ(sent.substr(0, received.size()), received) << "the reader got what was sent";
    EXPECT_TRUE(world.WaitForFeedToEnd()) << "closing the file ends the stream";
}

TEST_F(SystemTest, WatchPrintsEventsAndWritesATrackAtThePositionsOfTheDrive) {
    World& world = Shared();
    const std::string gpx = world.Folder() + "/drive.gpx";
    const CommandResult result = world.Run({"watch", "--json", "--count", "4", "--gpx", gpx});
    ASSERT_EQ(result.status, 0) << result.output;
    const std::vector<std::string> lines = Lines(result.output);
    ASSERT_FALSE(lines.empty());
    const json first = json::parse(lines[0]);
    EXPECT_EQ(first.value("event", ""), "state") << "first the state the sensor is in";
    EXPECT_EQ(first.value("current", false), true);
    int data = 0;
    int onTheDrive = 0;
    for (const std::string& line : lines) {
        const json event = json::parse(line);
        data += IsData(event) ? 1 : 0;
        onTheDrive += world.Track().Matches(event) ? 1 : 0;
    }
    EXPECT_EQ(data, 4) << "--count counts data events";
    // A reading posted while the driver updates its fields may mix two epochs.
    EXPECT_GE(onTheDrive, 3) << result.output;

    const std::string track = ReadTextFile(gpx);
    EXPECT_TRUE(track.starts_with("<?xml") && track.ends_with("</gpx>\n")) << track;
    const std::regex point(R"re(<trkpt lat="(-?[0-9.]+)" lon="(-?[0-9.]+)">.*<time>([^<]+)<)re");
    int points = 0;
    int matched = 0;
    for (const std::string& line : Lines(track)) {
        std::smatch found;
        if (std::regex_search(line, found, point)) {
            ++points;
            matched += world.Track().Matches(std::stod(found[1]), std::stod(found[2]), found[3]);
        }
    }
    EXPECT_GE(points, 3) << track;
    EXPECT_GE(matched, points - 1) << track;
}

TEST_F(SystemTest, GetNamesEveryPropertyAndAfterItsWaitTheFields) {
    const CommandResult result = Shared().Run({"get", "--json", "--wait", "60"});
    ASSERT_EQ(result.status, 0) << result.output;
    const json object = json::parse(result.output);
    const json& properties = object.at("properties");
    for (const char* name :
         {"friendly_name", "manufacturer", "model", "serial_number", "persistent_unique_id",
          "state", "type", "functional_object_category"}) {
        EXPECT_TRUE(properties.contains(name)) << name << ": " << properties.dump();
    }
    EXPECT_EQ(properties.value("state", 99), 0) << "READY after the wait";
    EXPECT_EQ(properties.value("friendly_name", ""), "ZNTR GPS Serial Port (COM7)");
    EXPECT_TRUE(object.at("data").at("latitude_degrees").is_number()) << object.dump();
    EXPECT_TRUE(object.at("data").at("satellites_used_prns").is_array()) << object.dump();
}

TEST_F(SystemTest, StoppingTheHostEndsAWatchersEventsAndItSaysSo) {
    World& world = Shared();
    SensorSession client(world, "host-stops");
    ASSERT_TRUE(client.WaitForSubscribed()) << client.Output();
    EXPECT_EQ(world.StopHost(), 0) << world.HostOutput();
    EXPECT_TRUE(client.WaitFor(IsEnded)) << client.Output();
    EXPECT_EQ(client.ExitStatus(), 1) << "watch must not hang, and fails";
    EXPECT_TRUE(Contains(client.Output(), "zntr watch: the sensor's events ended"));
}

TEST(SystemRemoval, QueriesMoveTheStateAndSurpriseRemovalEndsTheEventsAndTheFeed) {
    World world;
    SensorSession client(world, "removal");
    ASSERT_TRUE(client.WaitForPositionOnTheDrive()) << client.Output();
    // A query to remove makes the sensor report no data until the next position.
    const int ready = client.Count(IsState(SENSOR_STATE_READY));
    ASSERT_EQ(world.Run({"pnp", "query-remove"}).status, 0);
    EXPECT_TRUE(client.WaitFor(IsState(SENSOR_STATE_NO_DATA))) << client.Output();
    EXPECT_TRUE(client.WaitFor(IsState(SENSOR_STATE_READY), ready + 1)) << client.Output();
    // Surprise removal releases the device: the client's events end, the feed is taken down.
    ASSERT_EQ(world.Run({"pnp", "surprise-remove"}).status, 0);
    EXPECT_TRUE(client.WaitFor(IsEnded)) << client.Output();
    EXPECT_EQ(client.ExitStatus(), 1);
    EXPECT_TRUE(world.WaitForFeedToEnd()) << "the feed ends with the device";
    EXPECT_EQ(world.StopHost(), 0) << world.HostOutput();
}

TEST(CommandLine, ErrorsSayWhatIsWrongAndExitNonZero) {
    const TemporaryFolder folder;
    const TemporaryFolder logs;
    const std::string noHost = folder.path() / "host.sock";
    struct Case {
        std::vector<std::string> words;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"watch", "--socket", noHost}, 1, "no host is running"},
        {{"get", "--json", "--socket", noHost}, 1, "no host is running"},
        {{"cat", "--socket", noHost}, 1, "no host is running"},
        {{"watch", "--count", "0", "--socket", noHost}, 2, "--count"},
        {{"cat", "--count", "many", "--socket", noHost}, 2, "--count"},
        {{"watch", "--duration", "-5", "--socket", noHost}, 2, "--duration"},
        {{"watch", "--colour", "--socket", noHost}, 2, "--colour"},
        {{"demo", "--speed", "-3"}, 2, "--speed"},
        {{"demo", "--capture", "/nonexistent/drive.nmea"}, 2, "--capture"},
        {{"demo", "--stream-port", "70000"}, 2, "--stream-port"},
        {{"discover", "--netmap", "no-equals-sign"}, 2, "bad network map"},
    };
    for (const Case& c : cases) {
        const CommandResult result = RunZntr(c.words, logs.path());
        EXPECT_EQ(result.status, c.status) << c.words[0] << ": " << result.output;
        EXPECT_TRUE(Contains(result.output, c.message)) << c.words[0] << ": " << result.output;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << "no socket or file left behind";
}

// `zntr hotspot` as a user runs it, and `zntr discover` pointed at it by the map it prints.
TEST(CommandLine, DiscoverFindsTheStreamOfTheHotspotWhoseMapItIsGiven) {
    const TemporaryFolder folder;
    const std::string output = folder.path() / "hotspot.out";
    const auto hotspot = ChildProcess::Start({ZntrProgram(), "hotspot"}, output);
    ASSERT_TRUE(WaitUntil([&] { return Contains(ReadTextFile(output), "'\n"); }, kPatience));
    const std::string printed = ReadTextFile(output);
    std::smatch found;
    ASSERT_TRUE(std::regex_search(printed, found,
                                  std::regex("stream 127.0.0.1:(\\d+)\nZNTR_NETMAP='([^']+)'")))
        << printed;
    const CommandResult discovered = RunZntr({"discover", "--netmap", found[2]}, folder.path());
    EXPECT_EQ(discovered.status, 0);
    EXPECT_EQ(discovered.output,
              R"({"result":1,"address":"127.0.0.1","port":)" + found[1].str() + "}\n");
    EXPECT_EQ(hotspot->InterruptAndWait(kPatience), 0) << "Ctrl-C stops it cleanly";
    EXPECT_TRUE(Contains(ReadTextFile(output), "zntr hotspot: stopped"));
}

// What the demo printed: its host's process id, READY, and the positions on its drive.
struct DemoOutput {
    explicit DemoOutput(const std::string& text) {
        const std::regex host(R"(framework host \(process (\d+)\))");
        const std::regex data(R"(data (-?[0-9.]+), (-?[0-9.]+) .* at (\S+)$)");
        const TrackPositions track{hotspot::TrackOptions{}};
        for (const std::string& line : Lines(text)) {
            std::smatch found;
            if (std::regex_search(line, found, host)) {
                hostPid = std::stoi(found[1]);
            }
            ready = ready || line.ends_with(" state READY");
            if (std::regex_search(line, found, data) &&
                track.Matches(std::stod(found[1]), std::stod(found[2]), found[3])) {
                ++positionsOnTheDrive;
            }
        }
    }
    int hostPid = 0;
    bool ready = false;
    int positionsOnTheDrive = 0;
};

TEST(CommandLine, DemoShowsTheSensorComingAliveAndCtrlCLeavesNothingBehind) {
    const TemporaryFolder logs;
    const TemporaryFolder demoTemporary;  // the demo's TMPDIR
    ::setenv("TMPDIR", demoTemporary.path().c_str(), 1);
    const std::string output = logs.path() / "demo.out";
    auto demo = ChildProcess::Start({ZntrProgram(), "demo"}, output);
    ::unsetenv("TMPDIR");
    ASSERT_TRUE(WaitUntil(
        [&] {
            const DemoOutput now(ReadTextFile(output));
            return now.ready && now.positionsOnTheDrive > 0;
        },
        kPatience))
        << ReadTextFile(output);
    EXPECT_EQ(demo->InterruptAndWait(kPatience), 0) << ReadTextFile(output);
    const std::string text = ReadTextFile(output);
    EXPECT_TRUE(Contains(text, "zntr demo: stopped")) << text;
    EXPECT_FALSE(Contains(text, "\x1b")) << "not a terminal: plain lines";
    const DemoOutput demoOutput(text);
    ASSERT_NE(demoOutput.hostPid, 0) << "the demo names its host";
    EXPECT_NE(::kill(demoOutput.hostPid, 0), 0) << "no host process left running";
    EXPECT_TRUE(std::filesystem::is_empty(demoTemporary.path()))
        << "the host's folder, socket and state are gone";
}

}  // namespace
}  // namespace zntr::test
