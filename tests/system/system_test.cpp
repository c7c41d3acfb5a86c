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

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The matches of `pattern` whose position (groups 1, 2) and time (3) are the drive's.
int PositionsOnTheDrive(const TrackPositions& track, const std::string& text, const char* pattern) {
    int count = 0;
    const std::regex position(pattern);
    for (std::sregex_iterator it(text.begin(), text.end(), position), end; it != end; ++it) {
        count += track.Matches(std::stod((*it)[1]), std::stod((*it)[2]), (*it)[3]) ? 1 : 0;
    }
    return count;
}

// One world for the cases that leave it as they found it.
World& Shared() {
    static World world;
    return world;
}

TEST(System, ClientsShareOneFeedThatOutlivesAKilledClientAndEndsWithTheLast) {
    World& world = Shared();
    const int accepted = world.AcceptedStreams();
    std::vector<std::unique_ptr<SensorSession>> clients;
    std::vector<int> ready;
    for (const char* name : {"killed", "leaving", "last"}) {
        clients.push_back(std::make_unique<SensorSession>(world, name));
    }
    for (const auto& client : clients) {
        ASSERT_TRUE(client->WaitForPositionOnTheDrive()) << client->Output();
        ready.push_back(client->Count(IsState(SENSOR_STATE_READY)));
    }
    EXPECT_EQ(world.AcceptedStreams(), accepted + 1) << "one feed for all clients";
    EXPECT_EQ(world.Hotspot().open_stream_connections(), 1);
    // Sleep makes the sensor initialising, the next position ready: every subscriber sees both.
    ASSERT_EQ(world.Run({"power", "sleep"}).status, 0);
    ASSERT_EQ(world.Run({"power", "wake"}).status, 0);
    for (std::size_t i = 0; i < clients.size(); ++i) {
        EXPECT_TRUE(clients[i]->WaitFor(IsState(SENSOR_STATE_INITIALIZING)));
        EXPECT_TRUE(clients[i]->WaitFor(IsState(SENSOR_STATE_READY), ready[i] + 1));
    }
    // One dies without leaving (the host cleans its file up), one leaves: the last goes on.
    clients[0]->Kill();
    EXPECT_EQ(clients[1]->Leave(), 0) << clients[1]->Output();
    EXPECT_TRUE(clients[2]->WaitForPositionOnTheDrive(clients[2]->PositionsOnTheDrive()));
    EXPECT_EQ(world.Hotspot().open_stream_connections(), 1);
    EXPECT_EQ(clients[2]->Leave(), 0);
    EXPECT_TRUE(world.WaitForFeedToEnd()) << "the feed ends with the last client";
    EXPECT_EQ(world.AcceptedStreams(), accepted + 1);
}

TEST(System, ARawReaderGetsTheBytesTheHotspotSentAndEveryOtherOpenIsRefused) {
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
    EXPECT_EQ(world.Hotspot().stream_bytes(index).substr(0, received.size()), received);
    EXPECT_TRUE(world.WaitForFeedToEnd()) << "closing the file ends the stream";
}

TEST(System, WatchAndGetShowTheSensorAtThePositionsOfTheDrive) {
    World& world = Shared();
    const std::string gpx = world.Folder() + "/drive.gpx";
    const CommandResult watch = world.Run({"watch", "--json", "--count", "4", "--gpx", gpx});
    ASSERT_EQ(watch.status, 0) << watch.output;
    int data = 0, onTheDrive = 0, index = 0;
    std::istringstream lines(watch.output);
    for (std::string line; std::getline(lines, line);) {
        const json event = json::parse(line);
        EXPECT_EQ(event.value("current", false), index++ == 0) << "first the state it is in";
        data += IsData(event) ? 1 : 0;
        onTheDrive += world.Track().Matches(event) ? 1 : 0;
    }
    EXPECT_EQ(data, 4) << "--count counts data events";
    // A reading posted while the driver updates its fields may mix two epochs.
    EXPECT_GE(onTheDrive, 3) << watch.output;
    const std::string track = ReadTextFile(gpx);
    EXPECT_GE(
        PositionsOnTheDrive(world.Track(), track,
                            R"re(<trkpt lat="(-?[0-9.]+)" lon="(-?[0-9.]+)">.*<time>([^<]+)<)re"),
        3)
        << track;

    const CommandResult get = world.Run({"get", "--json", "--wait", "60"});
    ASSERT_EQ(get.status, 0) << get.output;
    const json properties = json::parse(get.output).at("properties");
    for (const char* name : {"manufacturer", "model", "serial_number", "persistent_unique_id",
                             "type", "functional_object_category"}) {
        EXPECT_TRUE(properties.contains(name)) << name << ": " << properties.dump();
    }
    EXPECT_EQ(properties.value("state", 99), 0) << "READY after the wait";
    EXPECT_EQ(properties.value("friendly_name", ""), "ZNTR GPS Serial Port (COM7)");
    EXPECT_TRUE(json::parse(get.output).at("data").at("latitude_degrees").is_number());
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
    EXPECT_EQ(client.ExitStatus(), 1) << "watch must not hang, and fails";
    EXPECT_TRUE(Contains(client.Output(), "zntr watch: the sensor's events ended"));
    EXPECT_TRUE(world.WaitForFeedToEnd()) << "the feed ends with the device";
    EXPECT_EQ(world.StopHost(), 0) << world.HostOutput();
}

TEST(CommandLine, ErrorsSayWhatIsWrongAndExitNonZero) {
    const TemporaryFolder folder, logs;
    const std::string noHost = folder.path() / "host.sock";
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
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
        {{"host", "--socket", noHost, "--state", logs.path() / "state", "--socket-group",
          "no-such-group-zntr"},
         1,
         "zntr host: cannot serve: unknown group 'no-such-group-zntr'"},
    };
    for (const auto& [words, status, message] : cases) {
        const CommandResult result = RunZntr(words, logs.path());
        EXPECT_EQ(result.status, status) << words[0] << ": " << result.output;
        EXPECT_TRUE(Contains(result.output, message)) << words[0] << ": " << result.output;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << "no socket or file left behind";
}

// `zntr hotspot` as a user runs it, and `zntr discover` pointed at it by the map it prints.
TEST(CommandLine, DiscoverFindsTheStreamOfTheHotspotWhoseMapItIsGiven) {
    const TemporaryFolder folder;
    const std::string output = folder.path() / "hotspot.out";
    const auto hotspot = StartZntr({"hotspot"}, output);
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

TEST(CommandLine, DemoShowsTheSensorComingAliveAndCtrlCLeavesNothingBehind) {
    const TemporaryFolder logs, demoTemporary;  // the latter the demo's TMPDIR
    ::setenv("TMPDIR", demoTemporary.path().c_str(), 1);
    const std::string output = logs.path() / "demo.out";
    auto demo = StartZntr({"demo"}, output);
    ::unsetenv("TMPDIR");
    const TrackPositions track{hotspot::TrackOptions{}};
    const auto alive = [&](const std::string& text) {
        return Contains(text, " state READY\n") &&
               PositionsOnTheDrive(track, text, R"(data (-?[0-9.]+), (-?[0-9.]+) .* at (\S+)\n)");
    };
    ASSERT_TRUE(WaitUntil([&] { return alive(ReadTextFile(output)); }, kPatience))
        << ReadTextFile(output);
    EXPECT_EQ(demo->InterruptAndWait(kPatience), 0) << ReadTextFile(output);
    const std::string text = ReadTextFile(output);
    EXPECT_TRUE(Contains(text, "zntr demo: stopped")) << text;
    EXPECT_FALSE(Contains(text, "\x1b")) << "not a terminal: plain lines";
    std::smatch host;
    ASSERT_TRUE(std::regex_search(text, host, std::regex(R"(framework host \(process (\d+)\))")));
    EXPECT_NE(::kill(std::stoi(host[1]), 0), 0) << "no host process left running";
    EXPECT_TRUE(std::filesystem::is_empty(demoTemporary.path()))
        << "the host's folder, socket and state are gone";
}

}  // namespace
}  // namespace zntr::test
