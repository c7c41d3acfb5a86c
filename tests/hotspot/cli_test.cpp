// `zntr hotspot` and `zntr discover` as a user runs them: the simulator in the background, the
// discovery pointed at it through the network map.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback_tools.h"

namespace {

using namespace std::chrono_literals;
using zntr::test::ChildProcess;

struct CommandRun {
    int status = -1;
    std::string output;
};

// Runs a shell command line; standard error joins standard output when `merge`.
CommandRun Shell(const std::string& command, bool merge = false) {
    CommandRun run;
    std::FILE* pipe = ::popen((command + (merge ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer;
    size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.output.append(buffer.data(), read);
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class HotspotCliTest : public ::testing::Test {
  protected:
    // Starts `zntr hotspot` on fresh ports with the extra arguments and waits until it has
    // printed its endpoints, which it does once both servers are up.
    void StartHotspot(std::vector<std::string> extra) {
        http_ = zntr::test::FreeLoopbackPort();
        stream_ = zntr::test::FreeLoopbackPort();
        std::vector<std::string> argv = {ZNTR_BINARY,     "hotspot",
                                         "--http-port",   std::to_string(http_),
                                         "--stream-port", std::to_string(stream_)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        log_ = folder_.path() + "/hotspot.log";
        hotspot_ = ChildProcess::Start(argv, log_);
        ASSERT_TRUE(hotspot_);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (ReadFile(log_).find("ZNTR_NETMAP=") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline && !hotspot_->Exited()) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_NE(ReadFile(log_).find("ZNTR_NETMAP="), std::string::npos) << ReadFile(log_);
    }
    std::string Map() const {
        return "gps-hotspot.internal=127.0.0.1;127.0.0.1:80=127.0.0.1:" + std::to_string(http_);
    }
    std::string Discover(const std::string& arguments) const {
        return "ZNTR_NETMAP='" + Map() + "' " ZNTR_BINARY " discover " + arguments;
    }

    zntr::test::TempFolder folder_;
    std::unique_ptr<ChildProcess> hotspot_;
    std::string log_;
    int http_ = 0;
    int stream_ = 0;
};

TEST_F(HotspotCliTest, DiscoverPrintsTheStreamEndpointOfTheSimulator) {
    StartHotspot({});
    const CommandRun run = Shell(Discover(""));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "{\"result\":1,\"address\":\"127.0.0.1\",\"port\":" +
                              std::to_string(stream_) + "}\n");
}

TEST_F(HotspotCliTest, DiscoverWithLogWritesTheDriversLogToStandardError) {
    StartHotspot({"--gps-disabled"});
    const CommandRun run = Shell(Discover("--log"), true);
    EXPECT_EQ(run.status, 1) << "result 0";
    EXPECT_NE(run.output.find("getaddrinfo returns 0,\nconnected to dns\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Gps Port is not Enabled on the device\n"), std::string::npos);
    EXPECT_NE(run.output.find("{\"result\":0,\"address\":\"127.0.0.1\",\"port\":" +
                              std::to_string(stream_) + "}"),
              std::string::npos)
        << "address and port as the answer left them, though there is no stream\n"
        << run.output;
}

TEST_F(HotspotCliTest, TheHotspotPrintsAMapThatReachesIt) {
    StartHotspot({"--no-address"});
    const std::string printed = ReadFile(log_);
    const std::size_t at = printed.find("ZNTR_NETMAP='");
    ASSERT_NE(at, std::string::npos) << printed;
    const std::string map = printed.substr(at + 13, printed.find('\'', at + 13) - at - 13);
    // Without an address in the answer the driver falls back to 192.168.1.1:10110, which the
    // printed map sends to the simulator's stream.
    EXPECT_NE(map.find("192.168.1.1:10110=127.0.0.1:" + std::to_string(stream_)),
              std::string::npos);
    const CommandRun run = Shell(ZNTR_BINARY " discover --netmap '" + map + "'");
    EXPECT_EQ(run.output, "{\"result\":1,\"address\":\"192.168.1.1\",\"port\":10110}\n");
}

TEST_F(HotspotCliTest, ATimeoutEndsADiscoveryThatGetsNoAnswer) {
    StartHotspot({"--no-answer", "silent"});
    const auto start = std::chrono::steady_clock::now();
    const CommandRun run = Shell(Discover("--timeout 0.5"), true);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.output.find("gave no answer within 0.5 s"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("\"result\""), std::string::npos) << "no result line";
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 5s);
}

TEST_F(HotspotCliTest, ATimeoutAlsoEndsRetriesAgainstARefusedPort) {
    StartHotspot({"--refuse-http"});
    const CommandRun run = Shell(Discover("--timeout 0.8 --log"), true);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.output.find("Failed to connect to the http port\n"), std::string::npos);
}

TEST_F(HotspotCliTest, ABadMapIsRefusedWithUsageStatus) {
    const CommandRun run = Shell(ZNTR_BINARY " discover --netmap 'no-equals-sign'", true);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("bad network map"), std::string::npos) << run.output;
}

TEST_F(HotspotCliTest, CtrlCStopsTheHotspotCleanly) {
    StartHotspot({"--period", "0.05"});
    EXPECT_EQ(hotspot_->InterruptAndWait(5s), 0);
    EXPECT_NE(ReadFile(log_).find("zntr hotspot: stopped"), std::string::npos);
}

TEST_F(HotspotCliTest, TheHotspotRefusesAPortItCannotHave) {
    StartHotspot({});
    const CommandRun run = Shell(ZNTR_BINARY " hotspot --http-port " + std::to_string(http_), true);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot bind"), std::string::npos) << run.output;
}

}  // namespace
