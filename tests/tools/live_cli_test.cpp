// zntr watch, get, cat and demo as processes, against the hotspot simulator (in this process,
// so that the test knows what it sent) and a framework host running the real driver module.
// Everything stays on loopback: the host gets the network map that sends the driver's hotspot
// endpoints to the simulator, and the LAN guard stays closed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host_process.h"
#include "loopback_tools.h"
#include "network_map.h"
#include "process.h"
#include "simulator/simulator.h"
#include "track_positions.h"
#include "wait_until.h"

namespace {

using namespace std::chrono_literals;
using zntr::test::ChildProcess;
using zntr::test::Quoted;
using zntr::test::ReadTextFile;
using zntr::test::RunCommand;
using zntr::test::SplitLines;
using zntr::test::TempFolder;
using zntr::test::TrackPositions;
using zntr::test::WaitUntil;

bool ProcessGone(int pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// A simulator recording its streams and a host served from a folder of the test's own.
class LiveHostTest : public testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("ZNTR_ALLOW_LAN");
        zntr::hotspot::SimulatorOptions options;
        options.record_streams = true;
        hotspot_ = std::make_unique<zntr::hotspot::HotspotSimulator>(options);
        zntr::tools::HostProcessOptions host;
        host.program = ZNTR_BINARY;
        host.folder = folder_.path();
        host.networkMap = zntr::tools::NetworkMapFor(*hotspot_);
        host_ = zntr::tools::HostProcess::Start(host);
    }

    void TearDown() override {
        if (host_) {
            EXPECT_EQ(host_->Stop(), 0) << "the host stops cleanly\n" << host_->Output();
        }
    }

    // A zntr command line at this host, standard error merged.
    std::string Zntr(const std::string& arguments) const {
        return std::string(ZNTR_BINARY) + " " + arguments + " --socket " +
               Quoted(host_->SocketPath()) + " 2>&1";
    }

    TempFolder folder_;
    std::unique_ptr<zntr::hotspot::HotspotSimulator> hotspot_;
    std::unique_ptr<zntr::tools::HostProcess> host_;
    const TrackPositions track_;
};

TEST_F(LiveHostTest, WatchJsonIsOneObjectPerEventAtThePositionsOfTheDrive) {
    const auto result = RunCommand(Zntr("watch --json --count 4"));
    ASSERT_EQ(result.status, 0) << result.output;
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    int data = 0;
    int matched = 0;
    const auto lines = SplitLines(result.output);
    ASSERT_FALSE(lines.empty());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto object = nlohmann::json::parse(lines[i]);
        ASSERT_TRUE(std::regex_match(object.at("received").get<std::string>(), iso)) << lines[i];
        if (i == 0) {
            EXPECT_EQ(object.at("event"), "state") << "first the state the sensor is in";
            EXPECT_EQ(object.at("current"), true);
            EXPECT_TRUE(object.at("state").is_number_unsigned());
            continue;
        }
        if (object.at("event") != "data") {
            EXPECT_EQ(object.at("event"), "state") << lines[i];
            continue;
        }
        ++data;
        const auto& timestamp = object.at("timestamp");
        // A pass that received nothing zeroes the timestamp as a number; a reading has a time.
        if (timestamp.is_string() && track_.Matches(object.at("latitude_degrees"),
                                                    object.at("longitude_degrees"), timestamp)) {
            ++matched;
        }
        EXPECT_TRUE(object.at("satellites_used_prns").is_array()) << lines[i];
    }
    EXPECT_EQ(data, 4) << "--count counts data events";
    // A reading posted while the driver updates its fields may mix two sentences.
    EXPECT_GE(matched, 3) << result.output;
}

TEST_F(LiveHostTest, WatchGpxWritesATrackOfTheDrive) {
    const std::string gpx = folder_.path() + "/drive.gpx";
    const auto result = RunCommand(Zntr("watch --count 4 --gpx " + Quoted(gpx)));
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string text = ReadTextFile(gpx);
    EXPECT_TRUE(text.starts_with("<?xml")) << text;
    EXPECT_TRUE(text.ends_with("</trkseg>\n  </trk>\n</gpx>\n")) << text;
    const std::regex point(
        R"re(<trkpt lat="(-?[0-9.]+)" lon="(-?[0-9.]+)">.*<time>([^<]+)</time>.*</trkpt>)re");
    int points = 0;
    int matched = 0;
    for (const std::string& line : SplitLines(text)) {
        std::smatch found;
        if (std::regex_search(line, found, point)) {
            ++points;
            matched += track_.Matches(std::stod(found[1]), std::stod(found[2]), found[3]) ? 1 : 0;
        }
    }
    EXPECT_GE(points, 3) << text;
    EXPECT_GE(matched, points - 1) << text;
}

TEST_F(LiveHostTest, CatPrintsExactlyTheBytesTheHotspotSent) {
    const auto result = RunCommand(Zntr("cat --count 25"));
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 25);
    EXPECT_TRUE(result.output.ends_with("\r\n"));
    ASSERT_EQ(hotspot_->stream_connections(), 1);
    const std::string sent = hotspot_->stream_bytes(0);
    ASSERT_GE(sent.size(), result.output.size());
    EXPECT_EQ(sent.substr(0, result.output.size()), result.output);
}

TEST_F(LiveHostTest, WhileTheRawStreamRunsTheDeviceRefusesEveryOtherOpen) {
    const std::string catOutput = folder_.path() + "/cat.out";
    auto cat =
        ChildProcess::Start({ZNTR_BINARY, "cat", "--socket", host_->SocketPath()}, catOutput);
    ASSERT_NE(cat, nullptr);
    ASSERT_TRUE(
        WaitUntil([&] { return ReadTextFile(catOutput).find('\n') != std::string::npos; }, 20s));
    for (const char* command : {"watch --count 1", "get", "cat --count 1"}) {
        const auto result = RunCommand(Zntr(command));
        EXPECT_EQ(result.status, 1) << command;
        EXPECT_NE(result.output.find("a raw NMEA stream is running"), std::string::npos)
            << command << ": " << result.output;
    }
    EXPECT_EQ(cat->InterruptAndWait(10s), 0) << "Ctrl-C ends zntr cat normally";
}

TEST_F(LiveHostTest, WhenTheHostStopsWatchSaysTheEventsEndedAndExitsNonZero) {
    const std::string output = folder_.path() + "/watch.out";
    auto watch = ChildProcess::Start(
        {ZNTR_BINARY, "watch", "--json", "--socket", host_->SocketPath()}, output);
    ASSERT_NE(watch, nullptr);
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadTextFile(output).find(R"("current":true)") != std::string::npos; }, 20s))
        << ReadTextFile(output);
    EXPECT_EQ(host_->Stop(), 0) << host_->Output();
    ASSERT_TRUE(WaitUntil([&] { return watch->Exited(); }, 20s)) << "watch must not hang";
    EXPECT_EQ(watch->InterruptAndWait(0ms), 1);
    const std::string text = ReadTextFile(output);
    EXPECT_NE(text.find(R"({"event":"ended")"), std::string::npos) << text;
    EXPECT_NE(text.find("zntr watch: the sensor's events ended"), std::string::npos) << text;
}

TEST_F(LiveHostTest, GetNamesEveryPropertyAndWithWaitTheFields) {
    const auto result = RunCommand(Zntr("get --json --wait 30"));
    ASSERT_EQ(result.status, 0) << result.output;
    const auto object = nlohmann::json::parse(result.output);
    const auto& properties = object.at("properties");
    for (const char* name :
         {"friendly_name", "manufacturer", "model", "serial_number", "persistent_unique_id",
          "state", "type", "functional_object_category"}) {
        EXPECT_TRUE(properties.contains(name)) << name << ": " << properties.dump();
    }
    EXPECT_EQ(properties.at("state"), 0) << "READY after the wait";
    EXPECT_EQ(properties.at("friendly_name"), "ZNTR GPS Serial Port (COM7)");
    const auto& data = object.at("data");
    EXPECT_TRUE(data.at("latitude_degrees").is_number()) << data.dump();
    EXPECT_TRUE(data.at("satellites_used_prns").is_array()) << data.dump();
}

// Holds a loopback port so that nothing else can listen on it.
class BusyPort {
  public:
    BusyPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(fd_, 1);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~BusyPort() { ::close(fd_); }
    int Port() const { return port_; }

  private:
    int fd_;
    int port_ = 0;
};

TEST(LiveCliTest, ErrorsSayWhatIsWrongAndExitNonZero) {
    const TempFolder folder;
    const BusyPort busy;
    const std::string noHost = " --socket " + Quoted(folder.path() + "/host.sock");
    struct Case {
        const char* legend;
        std::string arguments;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"watch, no host", "watch" + noHost, 1, "no host is running"},
        {"get, no host", "get --json" + noHost, 1, "no host is running"},
        {"cat, no host", "cat" + noHost, 1, "no host is running"},
        {"the simulator's port is taken", "demo --http-port " + std::to_string(busy.Port()), 1,
         "Address already in use"},
        {"a count of none", "watch --count 0" + noHost, 2, "--count"},
        {"a count that is no number", "cat --count many" + noHost, 2, "--count"},
        {"a negative duration", "watch --duration -5" + noHost, 2, "--duration"},
        {"a negative speed", "demo --speed -3", 2, "--speed"},
        {"a capture that is not there", "demo --capture /nonexistent/drive.nmea", 2, "--capture"},
        {"a port out of range", "demo --stream-port 70000", 2, "--stream-port"},
        {"an unknown option", "watch --colour" + noHost, 2, "--colour"},
    };
    for (const Case& c : cases) {
        const auto result = RunCommand(std::string(ZNTR_BINARY) + " " + c.arguments + " 2>&1");
        EXPECT_EQ(result.status, c.status) << c.legend << ": " << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos)
            << c.legend << ": " << result.output;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << "no socket or file left behind";
}

// What the demo printed: the host's process id, whether it showed READY, and the positions it
// showed that lie on the drive.
struct DemoOutput {
    explicit DemoOutput(const std::string& text) {
        const std::regex host(R"(framework host \(process (\d+)\))");
        const std::regex data(R"(data (-?[0-9.]+), (-?[0-9.]+) .* at (\S+)$)");
        const TrackPositions track;
        for (const std::string& line : SplitLines(text)) {
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
        escapes = text.find('\x1b') != std::string::npos;
    }
    int hostPid = 0;
    bool ready = false;
    int positionsOnTheDrive = 0;
    bool escapes = false;
};

// TMPDIR pointed at a folder of the test's own, to see that the demo leaves nothing there.
class DemoTest : public testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("ZNTR_ALLOW_LAN");
        ::setenv("TMPDIR", folder_.path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("TMPDIR"); }

    void ExpectEverythingStopped(const DemoOutput& demo) const {
        ASSERT_NE(demo.hostPid, 0) << "the demo names its host";
        EXPECT_TRUE(ProcessGone(demo.hostPid)) << "no host process left running";
        EXPECT_TRUE(std::filesystem::is_empty(folder_.path()))
            << "the host's folder, socket and state are gone";
    }

    TempFolder folder_;  // the demo's TMPDIR
    TempFolder logs_;    // made before TMPDIR changes, so not inside folder_
};

TEST_F(DemoTest, ShowsTheSensorComingAliveAndStopsAfterItsDuration) {
    const auto result = RunCommand(std::string(ZNTR_BINARY) + " demo --duration 12 2>&1");
    ASSERT_EQ(result.status, 0) << result.output;
    const DemoOutput demo(result.output);
    EXPECT_NE(result.output.find("state NO_DATA (current)"), std::string::npos) << result.output;
    EXPECT_TRUE(demo.ready) << result.output;
    EXPECT_GE(demo.positionsOnTheDrive, 1) << result.output;
    EXPECT_FALSE(demo.escapes) << "not a terminal: plain lines";
    ExpectEverythingStopped(demo);
}

TEST_F(DemoTest, CtrlCStopsTheWatcherTheHostAndTheSimulatorInOrder) {
    const std::string output = logs_.path() + "/demo.out";
    auto demo = ChildProcess::Start({ZNTR_BINARY, "demo"}, output);
    ASSERT_NE(demo, nullptr);
    ASSERT_TRUE(
        WaitUntil([&] { return DemoOutput(ReadTextFile(output)).positionsOnTheDrive > 0; }, 60s))
        << ReadTextFile(output);
    EXPECT_EQ(demo->InterruptAndWait(30s), 0) << ReadTextFile(output);
    const std::string text = ReadTextFile(output);
    EXPECT_NE(text.find("zntr demo: stopped"), std::string::npos) << text;
    ExpectEverythingStopped(DemoOutput(text));
}

}  // namespace
