// The whole system in processes: the hotspot simulator (in this process, so that the test can see
// what it sent and which streams are open), a framework host running the real driver module,
// sensor clients as processes of their own, a raw reader, and the power and Plug and Play
// commands. Everything stays on loopback: the host gets a network map that sends the driver's
// hotspot endpoints to the simulator, and the guard refuses anything else.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device_error.h"
#include "device_file.h"
#include "loopback_tools.h"
#include "simulator/simulator.h"
#include "standin/winerror.h"
#include "wait_until.h"

namespace {

using namespace std::chrono_literals;
using zntr::client::DeviceError;
using zntr::client::DeviceFile;
using zntr::hotspot::HotspotSimulator;
using zntr::hotspot::SimulatorOptions;
using zntr::test::ChildProcess;
using zntr::test::TempFolder;
using zntr::test::WaitUntil;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountLines(const std::string& text, const std::string& prefix) {
    int count = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        count += line.starts_with(prefix) ? 1 : 0;
    }
    return count;
}

// One sensor client process and what it printed.
class Watcher {
  public:
    Watcher(const std::string& socket, const std::string& output) : output_(output) {
        process_ = ChildProcess::Start({ZNTR_SYSTEM_WATCHER, socket}, output);
    }
    bool Started() const { return process_ != nullptr; }
    std::string Output() const { return ReadFile(output_); }
    int Count(const std::string& prefix) const { return CountLines(Output(), prefix); }
    bool WaitFor(const std::string& prefix, int count = 1,
                 std::chrono::milliseconds timeout = 30s) const {
        return WaitUntil([&] { return Count(prefix) >= count; }, timeout);
    }
    // Asks it to leave (unsubscribe, disconnect) and waits for its end; its exit status.
    int Leave() { return process_->InterruptAndWait(10s); }
    // Kills it without a chance to leave.
    void Kill() { ::kill(process_->pid(), SIGKILL); }

  private:
    std::string output_;
    std::unique_ptr<ChildProcess> process_;
};

class SystemTest : public testing::Test {
  protected:
    void SetUp() override {
        SimulatorOptions options;
        options.record_streams = true;
        hotspot_ = std::make_unique<HotspotSimulator>(options);
        const std::string http = "127.0.0.1:" + std::to_string(hotspot_->http_port());
        // The driver asks the hotspot's name, else its LAN address, on port 80; the status page
        // answers with the simulator's own stream endpoint on loopback.
        const std::string map =
            "gps-hotspot.internal=127.0.0.1;127.0.0.1:80=" + http + ";192.168.1.1:80=" + http;
        ::setenv("ZNTR_NETMAP", map.c_str(), 1);
        ::unsetenv("ZNTR_ALLOW_LAN");
        socket_ = folder_.path() + "/host.sock";
        hostOutput_ = folder_.path() + "/host.out";
        const std::string registry =
            folder_.Write("logging.reg",
                          "Windows Registry Editor Version 5.00\r\n\r\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zentrova\\ZADOdizEzud]\r\n"
                          "\"EnableLog\"=dword:00000001\r\n");
        host_ = ChildProcess::Start(
            {ZNTR_TOOL, "host", "--socket", socket_, "--state", folder_.path() + "/state", "--log",
             folder_.path() + "/driver.log", "--registry", registry},
            hostOutput_);
        ASSERT_NE(host_, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return CountLines(ReadFile(hostOutput_), "ready") > 0; }, 20s))
            << ReadFile(hostOutput_);
    }

    void TearDown() override {
        if (host_) {
            EXPECT_EQ(host_->InterruptAndWait(20s), 0) << "the host stops cleanly\n"
                                                       << ReadFile(hostOutput_);
        }
        ::unsetenv("ZNTR_NETMAP");
    }

    std::unique_ptr<Watcher> StartWatcher(const std::string& name) {
        auto watcher = std::make_unique<Watcher>(socket_, folder_.path() + "/" + name + ".out");
        EXPECT_TRUE(watcher->Started());
        return watcher;
    }

    int Command(const std::vector<std::string>& words) {
        std::vector<std::string> argv{ZNTR_TOOL};
        argv.insert(argv.end(), words.begin(), words.end());
        argv.insert(argv.end(), {"--socket", socket_});
        const auto process = ChildProcess::Start(argv, folder_.path() + "/command.out");
        if (!process) {
            return -1;
        }
        WaitUntil([&] { return process->Exited(); }, 20s);
        return process->InterruptAndWait(1s);
    }

    bool WaitForOpenStreams(int count, std::chrono::milliseconds timeout = 15s) {
        return WaitUntil([&] { return hotspot_->open_stream_connections() == count; }, timeout);
    }

    TempFolder folder_;
    std::unique_ptr<HotspotSimulator> hotspot_;
    std::string socket_;
    std::string hostOutput_;
    std::unique_ptr<ChildProcess> host_;
};

TEST_F(SystemTest, ThreeClientsShareOneFeedThatEndsWhenTheLastLeaves) {
    std::vector<std::unique_ptr<Watcher>> watchers;
    for (const char* name : {"first", "second", "third"}) {
        watchers.push_back(StartWatcher(name));
    }
    for (const auto& watcher : watchers) {
        ASSERT_TRUE(watcher->WaitFor("subscribed")) << watcher->Output();
    }
    for (const auto& watcher : watchers) {
        ASSERT_TRUE(watcher->WaitFor("data ")) << watcher->Output();
    }
    EXPECT_EQ(hotspot_->stream_connections(), 1) << "one feed for all clients";
    EXPECT_EQ(hotspot_->open_stream_connections(), 1);

    // Sleep makes a ready sensor initialising, and the next position ready again: every
    // subscribed client sees both state events.
    std::vector<int> readyBefore;
    for (const auto& watcher : watchers) {
        readyBefore.push_back(watcher->Count("state 0"));
    }
    ASSERT_EQ(Command({"power", "sleep"}), 0);
    ASSERT_EQ(Command({"power", "wake"}), 0);
    for (std::size_t i = 0; i < watchers.size(); ++i) {
        EXPECT_TRUE(watchers[i]->WaitFor("state 3")) << watchers[i]->Output();
        EXPECT_TRUE(watchers[i]->WaitFor("state 0", readyBefore[i] + 1)) << watchers[i]->Output();
    }

    EXPECT_EQ(watchers[0]->Leave(), 0);
    EXPECT_EQ(watchers[1]->Leave(), 0);
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(hotspot_->open_stream_connections(), 1) << "one client is still there";
    const int before = watchers[2]->Count("data ");
    EXPECT_TRUE(watchers[2]->WaitFor("data ", before + 1)) << "the last client still gets data";
    EXPECT_EQ(watchers[2]->Leave(), 0);
    EXPECT_TRUE(WaitForOpenStreams(0)) << "the feed ends with the last client";
    EXPECT_EQ(hotspot_->stream_connections(), 1);
}

TEST_F(SystemTest, AClientKilledWithoutLeavingStillEndsTheFeed) {
    auto watcher = StartWatcher("killed");
    ASSERT_TRUE(watcher->WaitFor("data ")) << watcher->Output();
    ASSERT_EQ(hotspot_->open_stream_connections(), 1);
    watcher->Kill();
    EXPECT_TRUE(WaitForOpenStreams(0)) << "the host cleans the dead client's file up";

    // The host goes on serving: a new client starts a new feed.
    auto next = StartWatcher("next");
    EXPECT_TRUE(next->WaitFor("data ")) << next->Output();
    EXPECT_EQ(hotspot_->stream_connections(), 2);
    EXPECT_EQ(next->Leave(), 0);
    EXPECT_TRUE(WaitForOpenStreams(0));
}

TEST_F(SystemTest, ARawReaderGetsTheBytesTheHotspotSent) {
    std::unique_ptr<DeviceFile> file = DeviceFile::Open(socket_);
    // The first read starts the stream and completes with no data after about a second.
    const auto first = file->Read(1024);
    EXPECT_EQ(first.status, S_OK);
    EXPECT_TRUE(first.data.empty());

    // While the stream runs, a second open is refused.
    try {
        DeviceFile::Open(socket_);
        ADD_FAILURE() << "a second open while streaming succeeded";
    } catch (const DeviceError& error) {
        EXPECT_EQ(error.GetKind(), DeviceError::Kind::kOpenRefused);
        EXPECT_EQ(error.Status(), STG_E_ACCESSDENIED);
    }

    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (received.size() < 2500 && std::chrono::steady_clock::now() < deadline) {
        const auto read = file->Read(4096);
        ASSERT_EQ(read.status, S_OK);
        EXPECT_LE(read.data.size(), 1024u) << "one read delivers at most 1024 bytes";
        received.append(read.data.begin(), read.data.end());
    }
    ASSERT_GE(received.size(), 2500u);
    ASSERT_EQ(hotspot_->stream_connections(), 1);
    const std::string sent = hotspot_->stream_bytes(0);
    ASSERT_GE(sent.size(), received.size());
    EXPECT_EQ(sent.substr(0, received.size()), received) << "the reader got what was sent";

    // Closing the file stops the stream; afterwards the device opens again.
    file->Close();
    file.reset();
    EXPECT_TRUE(WaitForOpenStreams(0));
    EXPECT_NO_THROW(DeviceFile::Open(socket_));
}

TEST_F(SystemTest, RemovalMovesTheStateAndSurpriseRemovalEndsTheEvents) {
    auto watcher = StartWatcher("removal");
    ASSERT_TRUE(watcher->WaitFor("data ")) << watcher->Output();

    // A query to remove makes the sensor report no data until the next position.
    ASSERT_EQ(Command({"pnp", "query-remove"}), 0);
    EXPECT_TRUE(watcher->WaitFor("state 2")) << watcher->Output();
    const int ready = watcher->Count("state 0");
    EXPECT_TRUE(watcher->WaitFor("state 0", ready + 1)) << watcher->Output();

    // Surprise removal releases the device: the client's events end and the feed is taken down.
    ASSERT_EQ(Command({"pnp", "surprise-remove"}), 0);
    EXPECT_TRUE(watcher->WaitFor("ended")) << watcher->Output();
    EXPECT_TRUE(WaitForOpenStreams(0)) << "the feed ends before the sensor goes";
    watcher->Leave();
}

}  // namespace
