// The driver's discovery and stream reading against servers the project did not write: a
// static status page served by BusyBox httpd, and an NMEA capture served by socat. Both listen
// on loopback only; the network map sends the driver's endpoints to them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "loopback_tools.h"
#include "simulator/stream_source.h"
#include "standin/network_control.h"
#include "track/synthetic_track.h"

// Driver headers last: they rename the C runtime's number readers.
#include "circular_buffer.h"
#include "gps_port_info.h"

namespace {

using namespace std::chrono_literals;
using zntr::test::ChildProcess;
using zntr::test::FindProgram;

// Connects to the stream endpoint the discovery gave and reads it through a CircularBuffer as
// the receive loop does (non-blocking receives, four lines per pass) until the peer closes.
std::vector<std::string> ReadStream(const char* address, int port) {
    std::vector<std::string> lines;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port));
    target.sin_addr.s_addr = inet_addr(address);
    if (connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
        ADD_FAILURE() << "stream connect failed: " << WSAGetLastError();
        closesocket(s);
        return lines;
    }
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    std::vector<BYTE> storage(CIRCULAR_BUFFER_SIZE);
    CircularBuffer ring{storage.data(), CIRCULAR_BUFFER_SIZE, 0, 0};
    char received[1024];
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    bool open = true;
    while (open && std::chrono::steady_clock::now() < deadline) {
        std::memset(received, 0, sizeof(received));
        const int count = recv(s, received, 1023, 0);
        if (count > 0) {
            WriteToCircularBuffer(ring, reinterpret_cast<const BYTE*>(received),
                                  static_cast<DWORD>(count));
        } else if (count == 0) {
            open = false;
        } else {
            Sleep(20);
        }
        char text[1024];
        while (ReadLinesFromCircularBuffer(ring, text, sizeof(text)) && text[0] != '\0') {
            for (const std::string& line : zntr::hotspot::SplitLines(text)) {
                lines.push_back(line);
            }
        }
    }
    closesocket(s);
    return lines;
}

class ThirdPartyServersTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        busybox_ = FindProgram("busybox");
        socat_ = FindProgram("socat");
        if (busybox_.empty() || socat_.empty()) {
            GTEST_SKIP() << "busybox (for httpd) or socat is not installed; "
                            "scripts/install-deps installs both";
        }
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    }
    void TearDown() override {
        if (!busybox_.empty() && !socat_.empty()) {
            WSACleanup();
        }
    }
    std::string busybox_;
    std::string socat_;
};

// With the address in the answer the stream is reached directly; without it the driver falls
// back to 192.168.1.1:10110, which the map sends to socat.
TEST_P(ThirdPartyServersTest, DiscoveryAtAWebServerThenTheNmeaStreamFromSocat) {
    const bool announceAddress = GetParam();
    zntr::test::TempFolder folder;
    zntr::hotspot::TrackOptions track;
    track.period_seconds = 1.0;
    const std::string capture = zntr::hotspot::RenderCapture(track, 6);
    const std::string capturePath = folder.Write("drive.nmea", capture);
    const int streamPort = zntr::test::FreeLoopbackPort();
    const int httpPort = zntr::test::FreeLoopbackPort();

    std::filesystem::create_directory(folder.path() + "/www");
    std::string body = "GPSEnable=1\x1b";
    if (announceAddress) {
        body += "WwIpaddr=127.0.0.1\x1bWwPort=" + std::to_string(streamPort) + "\x1b";
    }
    folder.Write("www/getGPSStatus.cgi", body);

    auto socat = ChildProcess::Start(
        // -U: from the second address to the first, so each accepted connection opens the
        // capture afresh.
        {socat_, "-U",
         "TCP-LISTEN:" + std::to_string(streamPort) + ",bind=127.0.0.1,reuseaddr,fork",
         "OPEN:" + capturePath},
        folder.path() + "/socat.log");
    auto httpd =
        ChildProcess::Start({busybox_, "httpd", "-f", "-p", "127.0.0.1:" + std::to_string(httpPort),
                             "-h", folder.path() + "/www"},
                            folder.path() + "/httpd.log");
    ASSERT_TRUE(socat && httpd);
    ASSERT_TRUE(zntr::test::WaitForLoopbackListener(httpPort, 5s));
    ASSERT_TRUE(zntr::test::WaitForLoopbackListener(streamPort, 5s));

    zntr::platform::ScopedNetworkSettings network(
        {"gps-hotspot.internal=127.0.0.1;127.0.0.1:80=127.0.0.1:" + std::to_string(httpPort) +
             ";192.168.1.1:10110=127.0.0.1:" + std::to_string(streamPort),
         false});
    char address[PORT_QUERY_ADDRESS_SIZE] = {};
    int port = 10110;
    ASSERT_EQ(QueryGpsPortInfo(address, &port, nullptr), 1);
    EXPECT_STREQ(address, announceAddress ? "127.0.0.1" : "192.168.1.1");
    EXPECT_EQ(port, announceAddress ? streamPort : 10110);

    EXPECT_EQ(ReadStream(address, port), zntr::hotspot::SplitLines(capture))
        << "every sentence once, whole and in order";
}

INSTANTIATE_TEST_SUITE_P(Answers, ThirdPartyServersTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& paramInfo) {
                             return paramInfo.param ? "AddressAnnounced" : "DefaultEndpoint";
                         });

}  // namespace
